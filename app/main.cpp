// Placeholder while the application object is being assembled.
int main() { return 2; }
