#include "TableFile.h"

#include "IoError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void ThrowErrno(int err)
{
    throw IoError(IoCodeFromErrno(err));
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// close() is not retried on EINTR: on Linux the descriptor is gone either way.
void CloseChecked(int fd)
{
    if (::close(fd) != 0 && errno != EINTR)
        ThrowErrno(errno);
}

// Closes without looking at the result, for paths that already raise an error.
void CloseQuietly(int fd)
{
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

// Reads up to `want` bytes; fewer only at the end of the file.
std::size_t ReadFully(int fd, unsigned char* buffer, std::size_t want)
{
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd, buffer + got, want - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            CloseQuietly(fd);
            ThrowErrno(err);
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// The whole file; a table file is small, so anything far larger is not one
// and is read only as far as tells it apart.
std::string ReadAll(int fd)
{
    constexpr std::size_t Limit = 1 << 20;
    std::string bytes;
    unsigned char chunk[8192];
    while (bytes.size() < Limit) {
        const std::size_t got = ReadFully(fd, chunk, sizeof chunk);
        bytes.append(reinterpret_cast<const char*>(chunk), got);
        if (got < sizeof chunk)
            break;
    }
    return bytes;
}

// Writes everything or fails: a short write is never taken for success.
int WriteFully(int fd, const unsigned char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Creates a fresh file beside the table that no one else has open.
// The folder part of a path, with its separator; empty for a bare name.
std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int CreateTempBeside(const std::string& path, std::string& name)
{
    static unsigned counter = 0;
    const std::string folder = FolderOf(path);
    const std::string base = path.substr(folder.size());
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "." + base + "." + std::to_string(::getpid()) + "." +
               std::to_string(counter++) + ".tmp";
        const int fd = OpenRetrying(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Makes the rename itself durable. File systems that cannot sync a directory
// say so with EINVAL; there is nothing more to do on those.
int SyncDirectoryOf(const std::string& path)
{
    const std::string folder = FolderOf(path);
    const int fd = OpenRetrying(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return errno;
    int err = 0;
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        err = errno;
    if (::close(fd) != 0 && err == 0 && errno != EINTR)
        err = errno;
    return err;
}

} // namespace

void LoadUserTable(UserTable& table, const std::string& path, std::string* fileBytes)
{
    int fd = OpenRetrying(path.c_str(), O_RDWR);
    if (fd < 0) {
        // Only a table that is not there is replaced by an empty one; a file
        // we merely cannot open is left alone and the error reported.
        if (errno != ENOENT)
            ThrowErrno(errno);
        fd = OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0)
            ThrowErrno(errno);
        CloseChecked(fd);
        table.ClearEmptySlots();
        if (fileBytes)
            fileBytes->clear();
        return;
    }

    // Read and check the whole file before anything reaches the table, so a
    // failed load leaves the table as it was. One byte more than a table
    // tells a longer file from one of exactly 6565 bytes.
    std::string buffer = ReadAll(fd);
    CloseChecked(fd);
    const std::size_t records = std::min<std::size_t>(buffer.size() / UserRecordSize, SlotCount);
    if (buffer.size() < UserTableFileSize && buffer.size() % UserRecordSize != 0)
        throw IoError(100);

    table.SetRecords(buffer, records);
    table.ClearEmptySlots();
    if (fileBytes)
        *fileBytes = std::move(buffer);
}

std::optional<std::string> PeekTableFile(const std::string& path)
{
    const int fd = OpenRetrying(path.c_str(), O_RDONLY);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        ThrowErrno(errno);
    }
    std::string bytes = ReadAll(fd);
    CloseChecked(fd);
    return bytes;
}

void SaveUserTable(const UserTable& table, const std::string& path)
{
    const std::string buffer = table.Bytes();
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());

    struct stat old
    {
    };
    const bool hadOld = ::stat(path.c_str(), &old) == 0;
    // The rename would replace even a file we may not write; a table made
    // read-only stays protected, as with writing it in place.
    if (hadOld && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        ThrowErrno(errno);

    std::string tempName;
    const int fd = CreateTempBeside(path, tempName);
    if (fd < 0)
        ThrowErrno(errno);

    int err = 0;
    if (hadOld) {
        // Only root may hand the new file to the old one's owner; anyone
        // else who may write the table becomes its owner.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
            (void)ignored;
        }
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            err = errno;
    }
    if (err == 0)
        err = WriteFully(fd, bytes, buffer.size());
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (err == 0) {
        if (::close(fd) != 0 && errno != EINTR)
            err = errno;
    } else {
        CloseQuietly(fd);
    }
    if (err == 0 && ::rename(tempName.c_str(), path.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(tempName.c_str());
        ThrowErrno(err);
    }

    err = SyncDirectoryOf(path);
    if (err != 0)
        ThrowErrno(err);
}

void CreateUserTableFile(const std::string& path)
{
    const int fd = OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        ThrowErrno(errno);
    CloseChecked(fd);
}
