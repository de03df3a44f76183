#include "devlib/trust.h"

#include <endian.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "process/streams.h"

namespace {

constexpr char kLibraryName[] = "Tolvarine.so";
constexpr int kMaxLinks = 40;                    // as the kernel follows at most
constexpr std::size_t kRestSize = 2 * PATH_MAX;  // what is still to resolve
constexpr int kOpenFolder = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr int kOpenEntry = O_PATH | O_NOFOLLOW | O_CLOEXEC;

// A POSIX access ACL as the kernel hands it over: a little-endian header
// (the version), then entries of tag, permissions and id.
constexpr char kAclName[] = "system.posix_acl_access";
constexpr std::uint32_t kAclVersion = 2;
constexpr std::size_t kAclHeaderSize = 4;
constexpr std::size_t kAclEntrySize = 8;
constexpr std::size_t kAclMaxEntries = 512;
enum AclTag : std::uint16_t {
  kAclUser = 0x02,
  kAclGroupObj = 0x04,
  kAclGroup = 0x08,
  kAclMask = 0x10
};
constexpr std::uint16_t kAclWrite = 0x02;

using Reason = std::span<char>;

// The owners whose files and folders are trusted besides root, asked for
// at the first entry that is not root's: most often none is.
struct Trust {
  bool asked = false;
  uid_t user = 0;             // the effective user
  std::optional<uid_t> sudo;  // SUDO_UID, when the real user is root
};

// A file or folder under check, with its status when it was opened: the
// descriptor's own, or (the folders above the current one, which cost one
// fstatat each that way) `up` resolved from it.
struct Held {
  int fd;  // AT_FDCWD stands for the current folder
  struct stat info;
  const char* up = "";  // "", or "..", "../..", ...
};

// Room for a description of a file or folder, or of a user or group.
struct Text {
  char text[PATH_MAX + 64];
};

void AskTrust(Trust& trust) {
  trust.asked = true;
  trust.user = geteuid();
  const char* sudo = getuid() == 0 ? std::getenv("SUDO_UID") : nullptr;
  if (sudo == nullptr || *sudo < '0' || *sudo > '9') return;
  char* end = nullptr;
  errno = 0;
  const unsigned long id = std::strtoul(sudo, &end, 10);
  // (uid_t)-1 is no one: chown takes it for "leave as is".
  if (*end == '\0' && errno == 0 && id < static_cast<uid_t>(-1)) {
    trust.sudo = static_cast<uid_t>(id);
  }
}

bool Trusted(Trust& trust, uid_t owner) {
  if (owner == 0) return true;
  if (!trust.asked) AskTrust(trust);
  return owner == trust.user || owner == trust.sudo;
}

bool SameFile(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Writes a refusal into `reason`; returns false, the check's verdict.
__attribute__((format(printf, 2, 3))) bool Refuse(Reason reason, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(reason.data(), reason.size(), format, args);
  va_end(args);
  return false;
}

// Closes a descriptor of the check; the current folder is not one.
void Release(int fd) {
  if (fd >= 0 && close(fd) != 0) {
    ReportError("TolvarineCli: cannot close a descriptor of the library check: %s",
                std::strerror(errno));
  }
}

void ProcPath(int fd, std::span<char, kDescriptorPathSize> path) {
  if (fd == AT_FDCWD) {
    std::snprintf(path.data(), path.size(), "/proc/self/cwd");
  } else {
    DescriptorPath(fd, path);
  }
}

// A descriptor of `held` itself: its own, or one opened for a folder held
// by a path from it (-1 when that no longer leads to the folder checked).
// Close it with ReleaseOpened.
int Opened(const Held& held) {
  if (*held.up == '\0') return held.fd;
  const int fd = openat(held.fd, held.up, O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat now {};
  if (fd >= 0 &&
      (fstat(fd, &now) != 0 || now.st_dev != held.info.st_dev || now.st_ino != held.info.st_ino)) {
    Release(fd);
    return -1;
  }
  return fd;
}

void ReleaseOpened(const Held& held, int fd) {
  if (fd != held.fd) Release(fd);
}

// "folder <path>" or the file's "<path>", as the kernel shows the
// descriptor; asked only when refusing, so a check that passes costs
// nothing for it. A path the kernel cannot show (longer than PATH_MAX) is
// named by its inode, which `find -inum` finds.
Text Describe(const Held& held) {
  Text what{};
  const char* kind = S_ISDIR(held.info.st_mode) ? "folder " : "";
  char proc[kDescriptorPathSize];
  const int fd = Opened(held);
  ProcPath(fd, proc);
  char path[PATH_MAX];
  const ssize_t length = fd == -1 ? -1 : readlink(proc, path, sizeof path);
  ReleaseOpened(held, fd);
  if (length >= 0 && static_cast<std::size_t>(length) < sizeof path) {
    std::snprintf(what.text, sizeof what.text, "%s%.*s", kind, static_cast<int>(length), path);
  } else {
    std::snprintf(what.text, sizeof what.text, "%s(inode %ju on device %u:%u)", kind,
                  static_cast<std::uintmax_t>(held.info.st_ino), major(held.info.st_dev),
                  minor(held.info.st_dev));
  }
  return what;
}

// "user <name> (<uid>)", or "user <uid>" without a name.
Text UserText(uid_t uid) {
  Text user{};
  const passwd* entry = getpwuid(uid);
  if (entry != nullptr) {
    std::snprintf(user.text, sizeof user.text, "user %s (%u)", entry->pw_name, uid);
  } else {
    std::snprintf(user.text, sizeof user.text, "user %u", uid);
  }
  return user;
}

// "group <name> (<gid>)", or "group <gid>" without a name.
Text GroupText(gid_t gid) {
  Text group{};
  const struct group* entry = getgrgid(gid);
  if (entry != nullptr) {
    std::snprintf(group.text, sizeof group.text, "group %s (%u)", entry->gr_name, gid);
  } else {
    std::snprintf(group.text, sizeof group.text, "group %u", gid);
  }
  return group;
}

bool CannotCheck(const Held& held, int error, Reason reason) {
  return Refuse(reason, "cannot check %s: %s", Describe(held).text, std::strerror(error));
}

bool OwnerTrusted(Trust& trust, const Held& held, Reason reason) {
  return Trusted(trust, held.info.st_uid) ||
         Refuse(reason, "%s is owned by %s", Describe(held).text, UserText(held.info.st_uid).text);
}

// Whether the members of group `gid` writing is no one else writing:
// root's group, or the private group of `owner` (named after the owner,
// its primary group, with no other member). A name that cannot be looked
// up counts as someone else.
bool GroupTrusted(gid_t gid, uid_t owner) {
  if (gid == 0) return true;
  const passwd* user = getpwuid(owner);
  char name[LOGIN_NAME_MAX + 1];
  if (user == nullptr || user->pw_gid != gid ||
      std::snprintf(name, sizeof name, "%s", user->pw_name) >= static_cast<int>(sizeof name)) {
    return false;
  }
  const group* entry = getgrgid(gid);
  if (entry == nullptr || std::strcmp(entry->gr_name, name) != 0) return false;
  for (char* const* member = entry->gr_mem; member != nullptr && *member != nullptr; ++member) {
    if (std::strcmp(*member, name) != 0) return false;
  }
  return true;
}

struct AclEntry {
  std::uint16_t tag;
  std::uint16_t perm;
  std::uint32_t id;
};

AclEntry AclEntryAt(const unsigned char* acl, std::size_t index) {
  const unsigned char* at = acl + kAclHeaderSize + index * kAclEntrySize;
  AclEntry entry{};
  std::memcpy(&entry.tag, at, 2);
  std::memcpy(&entry.perm, at + 2, 2);
  std::memcpy(&entry.id, at + 4, 4);
  return {le16toh(entry.tag), le16toh(entry.perm), le32toh(entry.id)};
}

// With an access ACL the mode's group bits are its mask, so the named
// users and groups it lets write, and the owning group, are read from it.
// Without one (ENODATA, or ENOTSUP where the file system has none) the
// group bits are the owning group's.
bool AclTrusted(Trust& trust, const Held& held, Reason reason) {
  char proc[kDescriptorPathSize];
  const int fd = Opened(held);
  ProcPath(fd, proc);  // O_PATH descriptors have no fgetxattr
  unsigned char acl[kAclHeaderSize + kAclMaxEntries * kAclEntrySize];
  errno = ESTALE;  // the folder moved away while checked
  const ssize_t size = fd == -1 ? -1 : getxattr(proc, kAclName, acl, sizeof acl);
  const int readError = errno;
  ReleaseOpened(held, fd);
  errno = readError;
  const uid_t owner = held.info.st_uid;
  if (size < 0 && (errno == ENODATA || errno == ENOTSUP)) {
    return GroupTrusted(held.info.st_gid, owner) ||
           Refuse(reason, "%s is writable by %s", Describe(held).text,
                  GroupText(held.info.st_gid).text);
  }
  std::uint32_t version = 0;
  if (size >= static_cast<ssize_t>(kAclHeaderSize)) std::memcpy(&version, acl, sizeof version);
  const int error = size < 0 ? errno : EINVAL;
  if (size < 0 || le32toh(version) != kAclVersion || (size - kAclHeaderSize) % kAclEntrySize != 0) {
    return Refuse(reason, "cannot read the ACL of %s: %s", Describe(held).text,
                  std::strerror(error));
  }
  const std::size_t count = (size - kAclHeaderSize) / kAclEntrySize;
  std::uint16_t mask = 0x07;  // without a mask, the named entries count in full
  for (std::size_t index = 0; index < count; ++index) {
    const AclEntry entry = AclEntryAt(acl, index);
    if (entry.tag == kAclMask) mask = entry.perm;
  }
  for (std::size_t index = 0; index < count; ++index) {
    const AclEntry entry = AclEntryAt(acl, index);
    if ((entry.perm & mask & kAclWrite) == 0) continue;
    if (entry.tag == kAclUser && !Trusted(trust, entry.id)) {
      return Refuse(reason, "%s is writable by %s through its ACL", Describe(held).text,
                    UserText(entry.id).text);
    }
    if (entry.tag == kAclGroup && !GroupTrusted(entry.id, owner)) {
      return Refuse(reason, "%s is writable by %s through its ACL", Describe(held).text,
                    GroupText(entry.id).text);
    }
    if (entry.tag == kAclGroupObj && !GroupTrusted(held.info.st_gid, owner)) {
      return Refuse(reason, "%s is writable by %s", Describe(held).text,
                    GroupText(held.info.st_gid).text);
    }
  }
  return true;
}

// Whether no one untrusted may change `held`: for a folder, create, rename
// or remove its entries.
bool WritersTrusted(Trust& trust, const Held& held, Reason reason) {
  if ((held.info.st_mode & S_IWOTH) != 0) {
    return Refuse(reason, "%s is writable by other users", Describe(held).text);
  }
  // Without the group's write bit neither the group nor an ACL grants
  // writing: the ACL is read only then, which keeps start-up cheap.
  return (held.info.st_mode & S_IWGRP) == 0 || AclTrusted(trust, held, reason);
}

// Whether `entry`, found in `folder`, was put there by a trusted user: in a
// sticky folder no one but the entry's and the folder's owners (and root)
// can replace an entry.
bool EntryTrusted(Trust& trust, const Held& folder, const Held& entry, Reason reason) {
  return ((folder.info.st_mode & S_ISVTX) != 0 && Trusted(trust, entry.info.st_uid)) ||
         WritersTrusted(trust, folder, reason);
}

// Opens `name` in `folder` with `flags` and takes its status; on failure
// `error` holds the errno value.
std::optional<Held> OpenIn(const Held& folder, const char* name, int flags, int& error) {
  Held held{openat(folder.fd, name, flags), {}};
  if (held.fd < 0 || fstat(held.fd, &held.info) != 0) {
    error = errno;
    Release(held.fd);
    return std::nullopt;
  }
  return held;
}

// Checks the current folder and every folder above it up to /, each found
// from the one below: ".." is the real parent and no link is followed. The
// folders are named by "..", "../..", ... from the current folder, or from
// a descriptor opened on the way when that would pass PATH_MAX: no path is
// held, however long. A folder that is its own parent but not / (the
// current folder is in a mount detached from the tree, or outside the
// root) is refused.
bool AboveTrusted(Trust& trust, const Held& current, const struct stat& root, Reason reason) {
  if (!OwnerTrusted(trust, current, reason)) return false;
  char paths[2][PATH_MAX];  // the folder's and its parent's, in turn
  Held here = current;
  int base = AT_FDCWD;  // where the paths start
  bool trusted = true;
  for (int turn = 0; trusted && !SameFile(here.info, root); turn ^= 1) {
    char* up = paths[turn];
    const std::size_t length = std::strlen(here.up);
    if (length + 4 >= PATH_MAX) {
      const int fd = Opened(here);
      if (fd < 0) {
        trusted = CannotCheck(here, errno, reason);
        continue;
      }
      if (base != AT_FDCWD) Release(base);
      base = fd;
      here = {base, here.info};
    }
    std::snprintf(up, PATH_MAX, "%s%s..", here.up, *here.up == '\0' ? "" : "/");
    Held parent{base, {}, up};
    if (fstatat(base, up, &parent.info, AT_SYMLINK_NOFOLLOW) != 0) {
      trusted = CannotCheck(here, errno, reason);
    } else if (SameFile(parent.info, here.info)) {
      trusted = Refuse(reason, "the current folder is not reachable from /");
    } else {
      trusted = OwnerTrusted(trust, parent, reason) && EntryTrusted(trust, parent, here, reason);
    }
    here = parent;
  }
  if (base != AT_FDCWD) Release(base);
  return trusted;
}

// Makes `next` the folder the walk is in, after checking its owner.
bool Enter(Trust& trust, Held& folder, const Held& next, Reason reason) {
  Release(folder.fd);
  folder = next;
  return OwnerTrusted(trust, folder, reason);
}

// Puts the target of the link `link` in front of what is still to resolve,
// `rest` from `at` on, and starts over from / when it is absolute.
bool Follow(Trust& trust, const Held& link, Held& folder, char (&rest)[kRestSize], std::size_t& at,
            Reason reason) {
  char target[PATH_MAX];
  const ssize_t length = readlinkat(link.fd, "", target, sizeof target);
  if (length < 0) return CannotCheck(link, errno, reason);
  const std::size_t tail = std::strlen(rest + at);  // "" or from a '/'
  if (static_cast<std::size_t>(length) >= sizeof target ||
      static_cast<std::size_t>(length) + tail >= sizeof rest) {
    return Refuse(reason, "its path is too long to check");
  }
  std::memmove(rest + length, rest + at, tail + 1);
  std::memcpy(rest, target, length);
  at = 0;
  if (length == 0 || target[0] != '/') return true;
  int error = 0;
  const Held current{AT_FDCWD, {}};
  const std::optional<Held> root = OpenIn(current, "/", kOpenFolder, error);
  if (!root) return Refuse(reason, "cannot check folder /: %s", std::strerror(error));
  return Enter(trust, folder, *root, reason);
}

// Resolves ./Tolvarine.so from the current folder one name at a time, as
// the kernel would, checking every folder it enters and the file. Returns
// the file's descriptor, or -1: `reason` is empty when there is no file.
int ResolveLibrary(Trust& trust, const Held& current, const struct stat& root, Reason reason,
                   struct stat& checked) {
  char rest[kRestSize];
  std::snprintf(rest, sizeof rest, "%s", kLibraryName);
  std::size_t at = 0;
  Held folder = current;
  std::optional<Held> file;
  bool trusted = true;
  for (int links = 0; trusted && !file;) {
    while (rest[at] == '/') ++at;
    const std::size_t length = std::strcspn(rest + at, "/");
    char name[NAME_MAX + 1];
    if (length > NAME_MAX) {
      trusted = CannotCheck(folder, ENAMETOOLONG, reason);
      continue;
    }
    std::memcpy(name, rest + at, length);
    name[length] = '\0';
    at += length;
    const std::string_view entry(name, length);
    int error = 0;
    if (entry.empty() || entry == ".") {
      if (rest[at] != '\0') continue;
      // The path ends in a folder: a library that is a folder fails to
      // load, with the loader's own text.
      file = OpenIn(folder, ".", kOpenFolder, error);
      if (!file) trusted = CannotCheck(folder, error, reason);
      continue;
    }
    if (entry == "..") {
      if (SameFile(folder.info, root)) continue;  // the top's parent is itself
      const std::optional<Held> up = OpenIn(folder, "..", kOpenFolder, error);
      trusted = up ? Enter(trust, folder, *up, reason) : CannotCheck(folder, error, reason);
      continue;
    }
    std::optional<Held> next = OpenIn(folder, name, kOpenEntry, error);
    if (!next && error == ENOENT) break;  // missing: the loader says so
    if (!next) {
      trusted = CannotCheck(folder, error, reason);
    } else if (!EntryTrusted(trust, folder, *next, reason)) {
      trusted = false;
    } else if (S_ISLNK(next->info.st_mode)) {
      trusted = ++links <= kMaxLinks ? Follow(trust, *next, folder, rest, at, reason)
                                     : CannotCheck(*next, ELOOP, reason);
    } else if (S_ISDIR(next->info.st_mode)) {
      trusted = Enter(trust, folder, *next, reason);
      next.reset();  // now held as `folder`
    } else if (rest[at] != '\0') {
      trusted = CannotCheck(*next, ENOTDIR, reason);
    } else {
      file.swap(next);
    }
    if (next) Release(next->fd);
  }
  Release(folder.fd);
  if (file && trusted && OwnerTrusted(trust, *file, reason) &&
      WritersTrusted(trust, *file, reason)) {
    checked = file->info;
    return file->fd;
  }
  if (file) Release(file->fd);
  return -1;
}

}  // namespace

void DescriptorPath(int fd, std::span<char, kDescriptorPathSize> path) {
  std::snprintf(path.data(), path.size(), "/proc/self/fd/%d", fd);
}

int OpenCheckedLibrary(std::span<char> reason, struct stat& checked) {
  reason[0] = '\0';
  Trust trust;
  struct stat root {};
  Held current{AT_FDCWD, {}};
  if (stat("/", &root) != 0) {
    Refuse(reason, "cannot check folder /: %s", std::strerror(errno));
    return -1;
  }
  if (fstatat(AT_FDCWD, ".", &current.info, 0) != 0) {
    CannotCheck(current, errno, reason);
    return -1;
  }
  if (!AboveTrusted(trust, current, root, reason)) return -1;
  return ResolveLibrary(trust, current, root, reason, checked);
}
