#pragma once

// POSIX helpers shared by the table file and its lock; not part of the
// store's interface.

#include <string>

#include <sys/stat.h>
#include <sys/types.h>

namespace fileops {

int openRetrying(const char* path, int flags, mode_t mode = 0);
// Closes without looking at the result, for paths that already raise an error.
void closeQuietly(int fd);
[[noreturn]] void throwErrno(int err);

// The folder part of a path with its separator (empty for a bare name), and
// the name after it.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);

// What `path` finally names once every symbolic link on the way is followed,
// so that a save lands in the target's folder and the links stay. A path with
// nothing at it comes back unchanged (a table yet to be made); a link whose
// target is missing raises IoError 2, so nothing is ever created through it.
std::string resolveLinks(const std::string& path);
// The same, also giving what lstat() said of the file finally named (a zero
// st_mode when nothing is there).
std::string resolveLinks(const std::string& path, struct stat& found);

// This machine's name as it may appear in a file name. Process ids mean
// something only on the machine that issued them, and a folder may be shared
// by several machines.
const std::string& hostTag();

// True only when the system says no process of that id exists; a process of
// another user still counts as running.
bool processGone(long pid);

// Reads up to `size` bytes from offset 0, fewer only at the end of the file.
// Returns -1 with errno set on failure.
long readPrefix(int fd, char* buffer, std::size_t size);
// Writes everything at `offset` or returns the errno: a short write is never
// taken for success.
int writeAllAt(int fd, const char* data, std::size_t size, off_t offset);
// Ends a new file written through `fd` (`err`: what went wrong so far, or
// 0): syncs it, closes it, and renames `from` to `to`, each step only after
// the one before went well. `fd` is closed either way. Returns the first
// errno, or 0; the caller removes `from` when it is not 0.
int syncCloseRename(int fd, int err, const std::string& from, const std::string& to);

} // namespace fileops
