#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

extern char** environ;

namespace brimora::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Without a process descriptor, a child that has ended while something it started still holds
// the pipe open is noticed at the next tick.
constexpr std::chrono::milliseconds kExitPollTick{10};
constexpr std::size_t kReadChunk = 64 * 1024;
// Read at most this much between two looks at the clock, so a child that writes without pause
// still meets its deadline.
constexpr std::size_t kReadPerTurn = 1024 * 1024;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

class SpawnSetup {
 public:
  SpawnSetup() {
    actionsReady_ = posix_spawn_file_actions_init(&actions_) == 0;
    attributesReady_ = posix_spawnattr_init(&attributes_) == 0;
  }
  ~SpawnSetup() {
    if (actionsReady_) posix_spawn_file_actions_destroy(&actions_);
    if (attributesReady_) posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Answers 0 or an errno value.
  int Prepare(int outputFd, const ChildOptions& options) {
    if (!actionsReady_ || !attributesReady_) return ENOMEM;
    int rc = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions_, outputFd, 1);
    if (rc == 0) {
      rc = options.captureStderr
               ? posix_spawn_file_actions_adddup2(&actions_, outputFd, 2)
               : posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors opened elsewhere without close-on-exec must not reach the child either.
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
#endif
    if (rc == 0 && !options.workingFolder.empty()) {
      rc = posix_spawn_file_actions_addchdir_np(&actions_, options.workingFolder.c_str());
    }
    if (rc != 0) return rc;

    // Its own process group, so a time-out can end everything the child started. Signals
    // the parent ignores or blocks would otherwise stay ignored or blocked in the child.
    sigset_t mask;
    sigemptyset(&mask);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGCHLD, SIGUSR1, SIGUSR2}) {
      sigaddset(&defaults, signal);
    }
    rc = posix_spawnattr_setpgroup(&attributes_, 0);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&attributes_, &mask);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attributes_, &defaults);
    if (rc == 0) {
      rc = posix_spawnattr_setflags(
          &attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    return rc;
  }

  const posix_spawn_file_actions_t* Actions() const { return &actions_; }
  const posix_spawnattr_t* Attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
  bool actionsReady_ = false;
  bool attributesReady_ = false;
};

int OpenProcessDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
  // Readable once the child has ended: poll then wakes at once instead of at the next tick.
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// True when the child has ended. It is left a zombie, so its process id (and with it the
// process group id) cannot be reused before we reap it.
bool HasEnded(pid_t pid) {
  siginfo_t info;
  std::memset(&info, 0, sizeof info);
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    if (errno != EINTR) return true;  // not ours to wait for any more; do not spin on it
  }
  return info.si_pid == pid;
}

int Reap(pid_t pid, int& status) {
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

int PollTimeout(std::optional<Clock::time_point> until, bool tick) {
  std::chrono::milliseconds wait{-1};
  if (until) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now());
    wait = std::max(left, std::chrono::milliseconds{0});
  }
  if (tick && (wait.count() < 0 || wait > kExitPollTick)) wait = kExitPollTick;
  return static_cast<int>(std::min<long long>(wait.count(), INT_MAX));
}

// Reads what the pipe holds, up to `limit` bytes. Closes the pipe at the end of data or on an
// error.
void ReadAvailable(FileDescriptor& pipe, std::size_t limit, std::size_t keep,
                   ChildResult& result) {
  char buffer[kReadChunk];
  while (limit > 0) {
    ssize_t count = read(pipe.Get(), buffer, std::min(sizeof buffer, limit));
    if (count > 0) {
      auto size = static_cast<std::size_t>(count);
      std::size_t room = keep - std::min(keep, result.output.size());
      result.output.append(buffer, std::min(size, room));
      if (size > room) result.outputTruncated = true;
      limit -= size;
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (count < 0) {
      result.readFailed = true;
      result.error = errno;
    }
    pipe.Reset();
    return;
  }
}

// Reads everything the pipe holds at this moment and no more: after the child has ended, a
// process it started may still hold the pipe open and keep writing.
void ReadRemainder(FileDescriptor& pipe, std::size_t keep, ChildResult& result) {
  int pending = 0;
  if (ioctl(pipe.Get(), FIONREAD, &pending) != 0) pending = static_cast<int>(kReadPerTurn);
  if (pending > 0) ReadAvailable(pipe, static_cast<std::size_t>(pending), keep, result);
}

// Reads the pipe and watches the child until it ends or `until` passes.
// Answers true when the child has ended (not yet reaped).
bool Watch(pid_t pid, FileDescriptor& pipe, const FileDescriptor& processFd,
           std::optional<Clock::time_point> until, std::size_t keep, ChildResult& result) {
  for (;;) {
    if (HasEnded(pid)) {
      // What the child wrote before it ended is in the pipe now; anything it left running
      // may keep the pipe open, so take what is there and do not wait for the end of data.
      if (pipe.Valid()) ReadRemainder(pipe, keep, result);
      return true;
    }
    if (until && Clock::now() >= *until) return false;

    pollfd fds[2];
    nfds_t count = 0;
    if (pipe.Valid()) fds[count++] = pollfd{pipe.Get(), POLLIN, 0};
    if (processFd.Valid()) fds[count++] = pollfd{processFd.Get(), POLLIN, 0};
    int ready = poll(fds, count, PollTimeout(until, !processFd.Valid()));
    if (ready < 0 && errno != EINTR && errno != EAGAIN) {
      // Cannot wait on the descriptors; fall back to short sleeps between checks.
      ready = poll(nullptr, 0, PollTimeout(until, true));
    }
    if (ready > 0 && pipe.Valid() && fds[0].revents != 0) {
      ReadAvailable(pipe, kReadPerTurn, keep, result);
    }
  }
}

}  // namespace

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
  ChildResult result;
  bool hasNul = std::any_of(argv.begin(), argv.end(), [](const std::string& argument) {
    return argument.find('\0') != std::string::npos;
  });
  if (argv.empty() || hasNul) {
    result.error = EINVAL;
    return result;
  }

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    result.error = errno;
    return result;
  }
  FileDescriptor readEnd(ends[0]);
  FileDescriptor writeEnd(ends[1]);
  if (writeEnd.Get() <= 2) {
    // With standard descriptors closed in the parent, the pipe can land on 0 to 2, where the
    // child's redirections would overwrite it before it is used.
    int moved = fcntl(writeEnd.Get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0) {
      result.error = errno;
      return result;
    }
    writeEnd.Reset(moved);
  }
  // Only our end is non-blocking; the child's end keeps the usual blocking writes.
  if (fcntl(readEnd.Get(), F_SETFL, fcntl(readEnd.Get(), F_GETFL) | O_NONBLOCK) != 0) {
    result.error = errno;
    return result;
  }

  SpawnSetup setup;
  if (int rc = setup.Prepare(writeEnd.Get(), options); rc != 0) {
    result.error = rc;
    return result;
  }

  std::vector<char*> arguments;
  arguments.reserve(argv.size() + 1);
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);

  // Every child reads and writes names as UTF-8 bytes, whatever locale the caller has (under
  // cron there is none, and the Subversion client then cannot convert a name that is not ASCII).
  static char locale[] = "LC_ALL=C.UTF-8";
  std::vector<char*> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "LC_ALL=", 7) != 0) environment.push_back(*entry);
  }
  environment.push_back(locale);
  environment.push_back(nullptr);

  // glibc reports a failed chdir or exec through the return value, so a program that cannot
  // be run is never mistaken for one that ran and exited.
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, arguments[0], setup.Actions(), setup.Attributes(),
                        arguments.data(), environment.data());
  if (rc != 0) {
    result.error = rc;
    return result;
  }
  result.started = true;
  // The child holds its own copy; ours must go, or the end of data would never come.
  writeEnd.Reset();

  FileDescriptor processFd(OpenProcessDescriptor(pid));
  bool ended = Watch(pid, readEnd, processFd, options.deadline, options.outputLimit, result);
  if (!ended) {
    result.timedOut = true;
    kill(-pid, SIGTERM);
    Watch(pid, readEnd, processFd, Clock::now() + options.terminateGrace, options.outputLimit,
          result);
    // Whether or not the leader is gone, its group may hold processes that ignored TERM.
    // The unreaped leader keeps the group id from being reused by anyone else.
    kill(-pid, SIGKILL);
  }

  int status = 0;
  if (int error = Reap(pid, status); error != 0) {
    result.error = error;
    return result;
  }
  if (ended) {
    result.ended = true;
    if (WIFEXITED(status)) {
      result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      result.termSignal = WTERMSIG(status);
    }
  }
  return result;
}

}  // namespace brimora::platform
