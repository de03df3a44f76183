// Whether ./Tolvarine.so may be loaded: judged on descriptors, so that what
// is loaded is the very file that was checked, whatever another process
// renames or links meanwhile.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <span>

// Opens ./Tolvarine.so of the current folder once (O_PATH, close-on-exec)
// and checks it and every folder from it up to /, following links as the
// kernel does, one descriptor after the other; no path is resolved twice.
//
// Trusted owners are root, the effective user, and when the real user is
// root the user in SUDO_UID. The library is refused when anyone else could
// have put it in place or changed it: the file or a folder on the way
// belongs to someone else, or someone else may write it (the others' bit,
// the group's bit unless the group is root's or the owner's private group,
// a POSIX ACL entry); a sticky folder is fine when the entry in it belongs
// to a trusted owner. Any failure to look is a refusal too.
//
// Returns the descriptor of the checked file, which the caller closes, with
// `checked` holding its status and `reason` empty. Returns -1 with `reason`
// empty when the file does not exist (also a link leading nowhere), and -1
// with one of these texts in `reason` when it is refused (`reason` should
// hold PATH_MAX + 128 chars; a longer text is cut):
//   "<what> is owned by user <name> (<uid>)"      or "... by user <uid>"
//   "<what> is writable by other users"
//   "<what> is writable by group <name> (<gid>)"  or "... by group <gid>"
//   "<what> is writable by user <name> (<uid>) through its ACL"
//   "<what> is writable by group <name> (<gid>) through its ACL"
//     (without a name as above)
//   "the current folder is not reachable from /"
//   "cannot check <what>: <system's reason>"
//   "cannot read the ACL of <what>: <system's reason>"
//   "its path is too long to check"
// where <what> is "folder <path>" or the file's "<path>", the path as the
// kernel shows it, or "(inode <n> on device <major>:<minor>)" when the
// kernel cannot show it (a path longer than PATH_MAX).
int OpenCheckedLibrary(std::span<char> reason, struct stat& checked);

// Room for DescriptorPath's text.
constexpr std::size_t kDescriptorPathSize = 32;

// "/proc/self/fd/<fd>": the name under which the kernel opens the file that
// `fd` holds, without resolving any other path.
void DescriptorPath(int fd, std::span<char, kDescriptorPathSize> path);
