// A child program for the tests; the first argument picks what it does. "args ARG..." prints each
// argument and a NUL byte; "exit CODE" writes "out\n", and "err\n" to standard error, and exits;
// "flood" writes 'f' forever; "cwd" prints the working folder; "signal N" ends itself with it.
// "grandchild PIDFILE" and "daemon PIDFILE" start a grandchild and write the pids: "grandchild"
// prints "ready" and both hang on, printing "term" at TERM; "daemon" prints "done" and exits, the
// grandchild keeping standard output open.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

void WriteAll(const std::string& text, int fd = 1) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t count = write(fd, text.data() + done, text.size() - done);
    if (count <= 0 && errno != EINTR) std::_Exit(3);
    done += count > 0 ? static_cast<std::size_t>(count) : 0;
  }
}

void SayTerm(int) { (void)!write(1, "term\n", 5); }

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "", value = argc > 2 ? argv[2] : "";
  char buffer[4096];
  if (mode == "args") {
    for (int i = 2; i < argc; ++i) WriteAll(std::string(argv[i]) + '\0');
  } else if (mode == "exit") {
    WriteAll("out\n");
    WriteAll("err\n", 2);
    return std::atoi(value.c_str());
  } else if (mode == "flood") {
    for (const std::string block(65536, 'f');;) WriteAll(block);
  } else if (mode == "cwd") {
    WriteAll(getcwd(buffer, sizeof buffer) != nullptr ? buffer : "?");
  } else if (mode == "signal") {
    signal(std::atoi(value.c_str()), SIG_DFL);
    raise(std::atoi(value.c_str()));
    return 3;
  } else if (mode == "grandchild" || mode == "daemon") {
    // TERM does not end them, so only KILL sent to the whole group does.
    signal(SIGTERM, mode == "grandchild" ? SayTerm : SIG_IGN);
    const pid_t grandchild = fork();
    while (grandchild == 0) pause();
    std::ofstream(value + ".part") << (mode == "daemon" ? "" : std::to_string(getpid()) + " ") << grandchild;
    // Renamed into place, so a reader never sees half of it.
    if (grandchild < 0 || std::rename((value + ".part").c_str(), value.c_str()) != 0) return 4;
    WriteAll(mode == "daemon" ? "done\n" : "ready\n");
    while (mode == "grandchild") pause();
  } else {
    return 2;
  }
  return 0;
}
