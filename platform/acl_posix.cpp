#include "platform/acl.h"

#include <acl/libacl.h>
#include <pwd.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/posix_util.h"

namespace brimora::platform {
namespace {

// Owns one acl_t.
class AclHandle {
 public:
  explicit AclHandle(acl_t acl) : acl_(acl) {}
  ~AclHandle() {
    if (acl_ != nullptr) acl_free(acl_);
  }
  AclHandle(const AclHandle&) = delete;
  AclHandle& operator=(const AclHandle&) = delete;
  acl_t get() const { return acl_; }
  acl_t* address() { return &acl_; }

 private:
  acl_t acl_;
};

int AddUserEntry(acl_t* acl, uid_t id, bool write) {
  acl_entry_t entry;
  acl_permset_t permissions;
  if (acl_create_entry(acl, &entry) != 0 || acl_set_tag_type(entry, ACL_USER) != 0 ||
      acl_set_qualifier(entry, &id) != 0 || acl_get_permset(entry, &permissions) != 0 ||
      acl_clear_perms(permissions) != 0 || acl_add_perm(permissions, ACL_READ) != 0 ||
      acl_add_perm(permissions, ACL_EXECUTE) != 0 ||
      (write && acl_add_perm(permissions, ACL_WRITE) != 0)) {
    return errno;
  }
  return 0;
}

// Builds the new list from `old`: the base entries, the other named entries when kept, and
// the user's entry (widened when the user had one). The mask is left out and recalculated.
int ExtendList(acl_t old, uid_t id, bool write, bool keepExisting, AclHandle* result) {
  AclHandle extended(acl_init(8));
  if (extended.get() == nullptr) return errno;
  bool userFound = false;
  acl_entry_t entry;
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(old, which, &entry) == 1;
       which = ACL_NEXT_ENTRY) {
    acl_tag_t tag;
    if (acl_get_tag_type(entry, &tag) != 0) return errno;
    if (tag == ACL_MASK) continue;
    bool isUser = false;
    if (tag == ACL_USER) {
      const auto* qualifier = static_cast<uid_t*>(acl_get_qualifier(entry));
      if (qualifier == nullptr) return errno;
      isUser = *qualifier == id;
      acl_free(const_cast<uid_t*>(qualifier));
    }
    if (!isUser && !keepExisting && (tag == ACL_USER || tag == ACL_GROUP)) continue;
    acl_entry_t copy;
    if (acl_create_entry(extended.address(), &copy) != 0 || acl_copy_entry(copy, entry) != 0) {
      return errno;
    }
    if (isUser) {
      userFound = true;
      acl_permset_t permissions;
      if (acl_get_permset(copy, &permissions) != 0 || acl_add_perm(permissions, ACL_READ) != 0 ||
          acl_add_perm(permissions, ACL_EXECUTE) != 0 ||
          (write && acl_add_perm(permissions, ACL_WRITE) != 0)) {
        return errno;
      }
    }
  }
  if (!userFound) {
    if (const int rc = AddUserEntry(extended.address(), id, write); rc != 0) return rc;
  }
  if (acl_calc_mask(extended.address()) != 0) return errno;
  if (acl_valid(extended.get()) != 0) return EINVAL;
  std::swap(*result->address(), *extended.address());
  return 0;
}

int ExtendFileList(const std::string& path, acl_type_t type, mode_t mode, uid_t id, bool write,
                   bool keepExisting) {
  AclHandle old(acl_get_file(path.c_str(), type));
  if (old.get() == nullptr) return errno;
  // A folder without a default list: start from its permission bits, as setfacl -d does.
  if (type == ACL_TYPE_DEFAULT && acl_entries(old.get()) == 0) {
    AclHandle fromMode(acl_from_mode(mode));
    if (fromMode.get() == nullptr) return errno;
    std::swap(*old.address(), *fromMode.address());
  }
  AclHandle extended(nullptr);
  if (const int rc = ExtendList(old.get(), id, write, keepExisting, &extended); rc != 0) {
    return rc;
  }
  return acl_set_file(path.c_str(), type, extended.get()) == 0 ? 0 : errno;
}

// A descriptor opened only for reaching entries (O_PATH) takes no attribute calls; its /proc
// name leads to the very object it holds.
std::string ObjectPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool NoList(int error) { return error == ENODATA || error == EOPNOTSUPP; }

}  // namespace

namespace posix {

int ReadAccessList(int fd, const char* which, std::string* value) {
  value->clear();
  for (;;) {
    ssize_t size = fgetxattr(fd, which, nullptr, 0);
    const bool byPath = size < 0 && errno == EBADF;
    if (byPath) size = getxattr(ObjectPath(fd).c_str(), which, nullptr, 0);
    if (size < 0) return NoList(errno) ? 0 : errno;
    value->resize(static_cast<std::size_t>(size));
    const ssize_t got = byPath ? getxattr(ObjectPath(fd).c_str(), which, value->data(), value->size())
                               : fgetxattr(fd, which, value->data(), value->size());
    if (got >= 0) {
      value->resize(static_cast<std::size_t>(got));
      return 0;
    }
    value->clear();
    if (NoList(errno)) return 0;
    if (errno != ERANGE) return errno;  // ERANGE: the list grew meanwhile
  }
}

int WriteAccessList(int fd, const char* which, const std::string& value) {
  int rc = value.empty() ? fremovexattr(fd, which) : fsetxattr(fd, which, value.data(), value.size(), 0);
  if (rc != 0 && errno == EBADF) {
    const std::string path = ObjectPath(fd);
    rc = value.empty() ? removexattr(path.c_str(), which)
                       : setxattr(path.c_str(), which, value.data(), value.size(), 0);
  }
  if (rc == 0 || (value.empty() && NoList(errno))) return 0;
  return errno;
}

}  // namespace posix

int LookupAccount(const std::string& name, std::uint32_t* id) {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 1024u);
  for (;;) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    const int rc = getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0) return rc;
    if (found == nullptr) return ENOENT;
    *id = found->pw_uid;
    return 0;
  }
}

int GrantUserAccess(const std::string& path, std::uint32_t id, bool write, bool keepExisting) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return errno;
  const uid_t user = static_cast<uid_t>(id);
  if (const int rc = ExtendFileList(path, ACL_TYPE_ACCESS, info.st_mode, user, write, keepExisting);
      rc != 0) {
    return rc;
  }
  if (S_ISDIR(info.st_mode)) {
    return ExtendFileList(path, ACL_TYPE_DEFAULT, info.st_mode, user, write, keepExisting);
  }
  return 0;
}

}  // namespace brimora::platform
