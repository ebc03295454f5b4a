#include "NewFile.h"

#include "FileOps.h"
#include "IoError.h"
#include "TableFile.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <exception>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using fileops::closeQuietly;
using fileops::folderOf;
using fileops::nameOf;
using fileops::throwErrno;

constexpr mode_t PrivateMode = 0600;

std::string randomHex(int digits)
{
    std::uint64_t value = 0;
    try {
        std::random_device device;
        value = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    } catch (const std::exception&) {
        // Only the name's guessability suffers; O_EXCL still guards the file.
        value = static_cast<std::uint64_t>(
                    std::chrono::steady_clock::now().time_since_epoch().count()) ^
                static_cast<std::uint64_t>(::getpid());
    }
    static const char* hex = "0123456789abcdef";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = hex[value & 15];
    return text;
}

// The same pattern as a table save's temporary files, so that the leftover
// of a killed run is found and removed as theirs are.
int createBeside(const std::string& path, std::string& name)
{
    const std::string start = folderOf(path) + "." + nameOf(path) + "." + fileops::hostTag() + "." +
                              std::to_string(::getpid()) + ".";
    for (int attempt = 0; attempt < 16; ++attempt) {
        name = start + randomHex(16) + ".lktmp";
        const int fd = fileops::openRetrying(
            name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, PrivateMode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

int syncFolder(const std::string& path)
{
    const std::string folder = folderOf(path);
    const int fd =
        fileops::openRetrying(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return errno;
    int err = 0;
    // File systems that cannot sync a folder say so with EINVAL.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        err = errno;
    closeQuietly(fd);
    return err;
}

} // namespace

void replaceWithNewFile(const std::string& path, const std::string& bytes)
{
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            throw IoError(5);
    } else if (errno != ENOENT) {
        throwErrno(errno);
    }
    removeStaleTemporaries(path);

    std::string name;
    const int fd = createBeside(path, name);
    if (fd < 0)
        throwErrno(errno);
    // The umask may have taken the owner's own bits.
    int err = ::fchmod(fd, PrivateMode) != 0 ? errno : 0;
    if (err == 0)
        err = fileops::writeAllAt(fd, bytes.data(), bytes.size(), 0);
    // The rename replaces the name alone: a file someone slipped in at
    // `path` meanwhile is never written into, and a link there is replaced,
    // not followed.
    err = fileops::syncCloseRename(fd, err, name, path);
    if (err != 0) {
        ::unlink(name.c_str());
        throwErrno(err);
    }
    err = syncFolder(path);
    if (err != 0)
        throwErrno(err);
}
