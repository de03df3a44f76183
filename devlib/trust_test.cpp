#include "devlib/trust.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>

namespace {

namespace fs = std::filesystem;

const std::string kDeepName(120, 'd');  // 40 of them: a path of over 4,800 chars
constexpr int kDeepLevels = 40;
constexpr int kPrivateGroup = -2;  // a user with a private group owns the folder

// How the child process reaches the folder holding the library.
enum class Way { kChdir, kDeep, kAsNobody, kDetached, kSwap };

struct Row {
  const char* name;
  Way way;
  const char* folder;  // holds the library; its first folder gets `mode`
  int mode;            // for kDeep, the level made writable by everyone (-1: none)
  int group;           // given to `folder` (root only), or -1
  int aclUser;         // an access ACL lets this user write `folder`, or -1
  const char* expect;  // fnmatch pattern of the outcome, @ for the test's folder
};

// name, way, folder, mode, group, ACL user, outcome
const Row kRows[] = {
    {"DeeperThanPathMaxLoads", Way::kDeep, ".", -1, -1, -1, "loaded full"},
    {"WorldWritableDeeperThanPathMax", Way::kDeep, ".", 37, -1, -1,
     "refused: folder (inode * on device *) is writable by other users"},
    {"UnsearchableFolder", Way::kAsNobody, "locked/in", 0700, -1, -1,
     "refused: cannot check folder @/locked: Permission denied"},
    {"AclLetsAnotherUserWrite", Way::kChdir, "acl", 0755, -1, 65534,
     "refused: folder @/acl is writable by user *(65534) through its ACL"},
    {"AclMaskIsNotTheGroup", Way::kChdir, "acl", 0755, 100, 0, "loaded full"},
    {"GroupOfOthersMayWrite", Way::kChdir, "shared", 0775, 100, -1,
     "refused: folder @/shared is writable by group *(100)"},
    {"OwnersPrivateGroupMayWrite", Way::kChdir, "own", 0775, kPrivateGroup, -1, "loaded full"},
    {"CurrentFolderOutsideTheTree", Way::kDetached, "src", 0755, -1, -1,
     "refused: the current folder is not reachable from /"},
    {"SwapAfterTheCheckLoadsTheChecked", Way::kSwap, ".", 0755, -1, -1,
     "loaded full, path leads to lean"},
};

// ctest names each row's test by what this prints.
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

std::string Failed(const char* what) { return std::string(what) + ": " + strerror(errno); }

// Copies `library` into the folder `dir` as Tolvarine.so.
void Place(int dir, const char* library) {
  std::ifstream in(library, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const int fd = openat(dir, "new.so", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ASSERT_EQ(close(fd) + renameat(dir, "new.so", dir, "Tolvarine.so"), 0);
}

// The chain deeper than PATH_MAX, made (level `open` writable by everyone)
// or entered, one folder at a time.
int Descend(const std::string& dir, bool make, int open = -1) {
  int fd = ::open(dir.c_str(), O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; level < kDeepLevels && fd >= 0; ++level) {
    const bool made = !make || mkdirat(fd, kDeepName.c_str(), 0755) == 0;
    const int next = made ? openat(fd, kDeepName.c_str(), O_DIRECTORY | O_CLOEXEC) : -1;
    close(fd);
    fd = next;
    if (make && level == open && fd >= 0 && fchmod(fd, 0777) != 0) return -1;
  }
  return fd;
}

// A user other than root whose primary group is private: named after the
// user, with no member.
std::optional<std::pair<uid_t, gid_t>> PrivateGroupUser() {
  for (uid_t uid = 1; uid < 1000; ++uid) {
    const passwd* user = getpwuid(uid);
    const group* own = user != nullptr ? getgrgid(user->pw_gid) : nullptr;
    if (own != nullptr && std::string(own->gr_name) == user->pw_name && own->gr_mem[0] == nullptr) {
      return std::pair(uid, user->pw_gid);
    }
  }
  return std::nullopt;
}

// Lays the row's case out under `dir`: "" when done, "skip: ..." or what failed.
std::string Lay(const Row& row, const std::string& dir) {
  const std::string folder = dir + "/" + row.folder;
  if (row.way != Way::kDeep) fs::create_directories(folder);
  const int fd = row.way == Way::kDeep ? Descend(dir, true, row.mode)
                                       : open(folder.c_str(), O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Failed("making the folders");
  Place(fd, SIM_LIBRARY);
  close(fd);
  if (row.way == Way::kDeep) return "";
  const std::string top = dir + "/" + fs::path(row.folder).begin()->string();
  if (chmod(top.c_str(), row.mode) != 0) return Failed("chmod");
  if (row.way == Way::kDetached && mkdir((dir + "/mnt").c_str(), 0755) != 0) return Failed("mkdir");
  std::optional<std::pair<uid_t, gid_t>> owner = std::pair(0u, gid_t(row.group));
  if (row.group == kPrivateGroup) owner = PrivateGroupUser();
  if (!owner) return "skip: no user has a private group";
  if (row.group != -1 && chown(folder.c_str(), owner->first, owner->second) != 0) {
    return Failed("chown");
  }
  if (row.aclUser == -1) return "";
  // Little-endian entries of tag and permissions, then id: the owner rwx,
  // the user rwx, the group r-x, the mask rwx, others r-x.
  const uint32_t acl[] = {2,       0x70001, ~0u,     0x70002, uint32_t(row.aclUser), 0x50004, ~0u,
                          0x70010, ~0u,     0x50020, ~0u};
  if (setxattr(folder.c_str(), "system.posix_acl_access", acl, sizeof acl, 0) == 0) return "";
  return errno == ENOTSUP ? "skip: no ACLs here" : Failed("setxattr");
}

// In the child: goes where the row says.
bool Enter(const Row& row, const std::string& dir) {
  const std::string folder = dir + "/" + row.folder, mnt = dir + "/mnt";
  if (row.group == kPrivateGroup) {
    setenv("SUDO_UID", std::to_string(PrivateGroupUser()->first).c_str(), 1);
  }
  switch (row.way) {
    case Way::kDeep: {
      const int fd = Descend(dir, false);
      return fd >= 0 && fchdir(fd) == 0 && close(fd) == 0;
    }
    case Way::kAsNobody:
      return chdir(folder.c_str()) == 0 && setgroups(0, nullptr) == 0 &&
             setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0;
    case Way::kDetached:
      return mount(folder.c_str(), mnt.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
             chdir(mnt.c_str()) == 0 && umount2(mnt.c_str(), MNT_DETACH) == 0;
    default:
      return chdir(folder.c_str()) == 0;
  }
}

// What the check and a load of its descriptor give, in a child process
// (privileges dropped, mounts and loaded libraries stay there).
std::string Judge(const Row& row, const std::string& dir) {
  if (row.way == Way::kDetached &&
      (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))) {
    return "skip: cannot mount here: " + Failed("unshare");
  }
  if (!Enter(row, dir)) return Failed("entering the folder");
  char reason[2 * PATH_MAX];
  struct stat checked {};
  const int fd = OpenCheckedLibrary(reason, checked);
  if (fd < 0) return reason[0] != '\0' ? std::string("refused: ") + reason : "missing";
  if (row.way == Way::kSwap) Place(AT_FDCWD, SIM_LEAN_LIBRARY);
  char name[kDescriptorPathSize];
  DescriptorPath(fd, name);
  void* handle = dlopen(name, RTLD_NOW);
  close(fd);
  if (handle == nullptr) return std::string("error: ") + dlerror();
  std::string outcome = dlsym(handle, "tq_GetLastError") != nullptr ? "loaded full" : "loaded lean";
  void* now = row.way == Way::kSwap ? dlopen("./Tolvarine.so", RTLD_NOW) : nullptr;
  if (now != nullptr && dlsym(now, "tq_GetLastError") == nullptr) outcome += ", path leads to lean";
  return outcome;
}

class TrustTest : public testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path() / "tolvarine-trust-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);  // nobody passes through it
  }
  void TearDown() override { EXPECT_EQ(std::system(("rm -rf " + dir_).c_str()), 0); }
  std::string dir_;
};

TEST_P(TrustTest, Judges) {
  const Row& row = GetParam();
  if ((row.group != -1 || row.way == Way::kAsNobody) && geteuid() != 0) {
    GTEST_SKIP() << "only root can set this case up";
  }
  const std::string laid = Lay(row, dir_);
  if (laid.rfind("skip:", 0) == 0) GTEST_SKIP() << laid;
  ASSERT_EQ(laid, "");
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  if (child == 0) {
    alarm(10);  // a walk that never ends fails the row
    const std::string outcome = Judge(row, dir_);
    _exit(write(pipeFds[1], outcome.data(), outcome.size()) == ssize_t(outcome.size()) ? 0 : 1);
  }
  close(pipeFds[1]);
  std::string outcome;
  char chunk[512];
  for (ssize_t got; (got = read(pipeFds[0], chunk, sizeof chunk)) > 0;) outcome.append(chunk, got);
  close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  if (outcome.rfind("skip:", 0) == 0) GTEST_SKIP() << outcome;
  std::string expect = row.expect;
  if (const auto at = expect.find('@'); at != std::string::npos) expect.replace(at, 1, dir_);
  EXPECT_EQ(fnmatch(expect.c_str(), outcome.c_str(), 0), 0) << outcome << "\nexpected " << expect;
}

INSTANTIATE_TEST_SUITE_P(Rows, TrustTest, testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
