#include "platform/identity.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace brimora::platform {

std::uint32_t CurrentThreadId() {
  return static_cast<std::uint32_t>(gettid());
}

bool ProcessUserName(std::string& name) { return AccountName(geteuid(), name); }

std::uint32_t EffectiveUserId() { return static_cast<std::uint32_t>(geteuid()); }

bool AccountName(std::uint32_t id, std::string& name) {
  const auto uid = static_cast<uid_t>(id);
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 1024u);
  for (;;) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    const int rc = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr || found->pw_name == nullptr) return false;
    name = found->pw_name;
    return true;
  }
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string ExecutablePath() {
  // readlink does not say whether the buffer was large enough, so grow until the answer fits.
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
    if (buffer.size() >= (1u << 16)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace brimora::platform
