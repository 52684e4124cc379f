// A child program for the process-runner tests. The first argument picks the behaviour:
//   args ARG...          prints each argument followed by a NUL byte
//   exit CODE            writes "out\n" to standard output, "err\n" to standard error, exits CODE
//   big BYTES            writes BYTES bytes to standard output: byte i is '0' + i % 10
//   flood                writes 'f' to standard output without pause, forever
//   cwd                  prints the working folder
//   stdin                reads standard input to its end and prints "eof BYTES"
//   grandchild PIDFILE   prints "ready", starts a grandchild; both print "term" at TERM and
//                        hang on; writes "CHILD GRAND" to PIDFILE
//   daemon PIDFILE       starts a grandchild that keeps standard output open and hangs, writes
//                        its pid to PIDFILE, prints "done" and exits 0
//   signal NUMBER        ends itself with the signal
//   without-proc PROGRAM ARG...  runs the program in a mount namespace where /proc is hidden
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    ssize_t count = write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) std::_Exit(3);
    done += static_cast<std::size_t>(count);
  }
}

void SayTerm(int) { (void)!write(1, "term\n", 5); }

[[noreturn]] void Hang() {
  for (;;) pause();
}

// Written under a temporary name and renamed, so a reader never sees half of it.
void WritePidFile(const std::string& path, const std::string& text) {
  FILE* file = std::fopen((path + ".part").c_str(), "w");
  if (file == nullptr || std::fputs(text.c_str(), file) < 0 || std::fclose(file) != 0 ||
      std::rename((path + ".part").c_str(), path.c_str()) != 0) {
    std::_Exit(4);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  const std::string value = argc > 2 ? argv[2] : "";

  if (mode == "args") {
    std::string text;
    for (int i = 2; i < argc; ++i) text += std::string(argv[i]) + '\0';
    WriteAll(1, text);
    return 0;
  }
  if (mode == "exit") {
    WriteAll(1, "out\n");
    WriteAll(2, "err\n");
    return std::atoi(value.c_str());
  }
  if (mode == "big") {
    std::string block;  // a multiple of 10 long, so every write continues the pattern
    while (block.size() < 65536) block += "0123456789";
    for (std::size_t left = std::strtoull(value.c_str(), nullptr, 10); left > 0;) {
      std::size_t count = left < block.size() ? left : block.size();
      WriteAll(1, block.substr(0, count));
      left -= count;
    }
    return 0;
  }
  if (mode == "flood") {
    const std::string block(65536, 'f');
    for (;;) WriteAll(1, block);
  }
  if (mode == "cwd") {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) == nullptr) return 3;
    WriteAll(1, buffer);
    return 0;
  }
  if (mode == "stdin") {
    char buffer[4096];
    std::size_t total = 0;
    for (ssize_t count; (count = read(0, buffer, sizeof buffer)) != 0;) {
      if (count < 0 && errno != EINTR) return 3;
      if (count > 0) total += static_cast<std::size_t>(count);
    }
    WriteAll(1, "eof " + std::to_string(total));
    return 0;
  }
  if (mode == "grandchild" || mode == "daemon") {
    // TERM is ignored, so only KILL sent to the whole group ends both.
    signal(SIGTERM, mode == "grandchild" ? SayTerm : SIG_IGN);
    if (mode == "grandchild") WriteAll(1, "ready\n");
    pid_t grandchild = fork();
    if (grandchild < 0) return 3;
    if (grandchild == 0) Hang();
    if (mode == "grandchild") {
      WritePidFile(value, std::to_string(getpid()) + " " + std::to_string(grandchild));
      Hang();
    }
    WritePidFile(value, std::to_string(grandchild));
    WriteAll(1, "done\n");
    return 0;
  }
  if (mode == "without-proc") {
    // A test binary run here runs all of its tests, not the shard of the run that started it.
    unsetenv("GTEST_TOTAL_SHARDS");
    unsetenv("GTEST_SHARD_INDEX");
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        umount2("/proc", MNT_DETACH) != 0) {
      return 5;
    }
    execv(argv[2], argv + 2);
    return 6;
  }
  if (mode == "signal") {
    int number = std::atoi(value.c_str());
    signal(number, SIG_DFL);
    raise(number);
    return 3;
  }
  return 2;
}
