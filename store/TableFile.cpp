#include "TableFile.h"

#include "FileOps.h"
#include "IoError.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int (*tablefile_testing::SaveHook)(tablefile_testing::SaveStep, const std::string&) = nullptr;

namespace {

using fileops::closeQuietly;
using fileops::folderOf;
using fileops::nameOf;
using fileops::openRetrying;
using fileops::throwErrno;
using tablefile_testing::SaveStep;

constexpr const char* TempSuffix = ".lktmp";
constexpr mode_t PrivateMode = 0600;

int runHook(SaveStep step, const std::string& file)
{
    return tablefile_testing::SaveHook ? tablefile_testing::SaveHook(step, file) : 0;
}

// close() is not retried on EINTR: on Linux the descriptor is gone either way.
void closeChecked(int fd)
{
    if (::close(fd) != 0 && errno != EINTR)
        throwErrno(errno);
}

// Reads up to `want` bytes; fewer only at the end of the file.
std::size_t readFully(int fd, unsigned char* buffer, std::size_t want)
{
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd, buffer + got, want - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            closeQuietly(fd);
            throwErrno(err);
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// What a table file may be: a regular file no larger than a table may
// grow to.
bool mayBeTable(const struct stat& st)
{
    return S_ISREG(st.st_mode) &&
           static_cast<std::uintmax_t>(st.st_size) <= static_cast<std::uintmax_t>(MaxTableFileSize);
}

// The whole file. One that grew past the limit since it was looked at is
// refused all the same, read only as far as tells it apart.
std::string readAll(int fd)
{
    std::string bytes;
    unsigned char chunk[8192];
    while (bytes.size() <= MaxTableFileSize) {
        const std::size_t got = readFully(fd, chunk, sizeof chunk);
        bytes.append(reinterpret_cast<const char*>(chunk), got);
        if (got < sizeof chunk)
            break;
    }
    if (bytes.size() > MaxTableFileSize) {
        closeQuietly(fd);
        throw IoError(5);
    }
    return bytes;
}

// Opens what `path` names only when it may be a table (mayBeTable). Anything
// else is refused before it is opened for real: opening a FIFO can block,
// opening a device can set it going, and a writer would cut a large file
// down to a table. O_NONBLOCK covers a swap between the look and the open.
// Returns -1 with errno set when the path names nothing to open (ENOENT for
// nothing there or a dangling link).
int openRegular(const std::string& path, int flags)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    if (!mayBeTable(st))
        throw IoError(5);
    const int fd = openRetrying(path.c_str(), flags | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        closeQuietly(fd);
        throwErrno(err);
    }
    if (!mayBeTable(st)) {
        closeQuietly(fd);
        throw IoError(5);
    }
    return fd;
}

bool isLink(const std::string& path)
{
    struct stat st
    {
    };
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Called where openRegular found nothing: a link left there names a missing
// file, which is reported rather than taken for a missing table.
[[noreturn]] void throwNotOpened(const std::string& path, int err)
{
    if (err == ENOENT && isLink(path))
        throw IoError(2);
    throwErrno(err);
}

// A new empty table. O_EXCL makes the open fail on any link, so nothing is
// made at a link's target. Returns false when something appeared at `path`
// meanwhile.
bool createEmptyTable(const std::string& path)
{
    const int fd = openRetrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY,
                                PrivateMode);
    if (fd < 0) {
        if (errno != EEXIST)
            throwErrno(errno);
        if (isLink(path))
            throw IoError(2);
        return false;
    }
    // The umask may have taken the owner's own bits; the table must stay
    // readable and writable by its owner.
    if (::fchmod(fd, PrivateMode) != 0) {
        const int err = errno;
        closeQuietly(fd);
        throwErrno(err);
    }
    closeChecked(fd);
    return true;
}

std::string randomHex16()
{
    std::uint64_t value = 0;
    // Made anew for each name, so nothing of it outlives the save.
    try {
        std::random_device device;
        value = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    } catch (const std::exception&) {
        // Only the name's guessability suffers; O_EXCL still guards the file.
        std::mt19937_64 fallback(static_cast<std::uint64_t>(
            std::chrono::steady_clock::now().time_since_epoch().count() ^ ::getpid()));
        value = fallback();
    }
    const char* const hex = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = hex[value & 15];
    return text;
}

// The temporary files of a table's saves on this host:
// ".<name>.<host>.<pid>.<16 hex>.lktmp". The process id in the name lets a
// later save tell a file of a killed save from one still being written.
std::string tempPrefix(const std::string& tableName)
{
    return "." + tableName + "." + fileops::hostTag() + ".";
}

// The process id of a name of that pattern, or 0 when it is not one.
long tempOwner(const std::string& entry, const std::string& prefix)
{
    const std::size_t suffix = std::strlen(TempSuffix);
    if (entry.size() <= prefix.size() + suffix || entry.compare(0, prefix.size(), prefix) != 0 ||
        entry.compare(entry.size() - suffix, suffix, TempSuffix) != 0)
        return 0;
    const std::string middle =
        entry.substr(prefix.size(), entry.size() - prefix.size() - suffix); // <pid>.<hex>
    const std::size_t dot = middle.find('.');
    if (dot == std::string::npos || dot == 0 || dot > 10 || middle.size() - dot - 1 != 16)
        return 0;
    for (std::size_t i = 0; i < middle.size(); ++i) {
        const char c = middle[i];
        const bool ok = i < dot    ? (c >= '0' && c <= '9')
                        : i == dot ? true
                                   : ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
        if (!ok)
            return 0;
    }
    return std::stol(middle.substr(0, dot));
}

// A fresh file beside `target` that no one else can open: made with O_EXCL
// under an unguessable name, and never wider than `mode` (itself at most
// 0600) from the moment it exists.
int createTempBeside(const std::string& target, mode_t mode, std::string& name)
{
    const std::string start =
        folderOf(target) + tempPrefix(nameOf(target)) + std::to_string(::getpid()) + ".";
    for (int attempt = 0; attempt < 16; ++attempt) {
        name = start + randomHex16() + TempSuffix;
        const int fd =
            openRetrying(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Makes the rename itself durable. File systems that cannot sync a directory
// say so with EINVAL; there is nothing more to do on those.
int syncFolderOf(const std::string& path)
{
    const int hooked = runHook(SaveStep::FolderSync, path);
    if (hooked != 0)
        return hooked;
    const std::string folder = folderOf(path);
    const int fd = openRetrying(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return errno;
    int err = 0;
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        err = errno;
    if (::close(fd) != 0 && err == 0 && errno != EINTR)
        err = errno;
    return err;
}

// What a save through a new file could not keep of the old table, as the
// reason to write in place instead.
bool cannotKeep(int err)
{
    return err == EPERM || err == EINVAL;
}

// Gives the new file the old table's owner, group and mode, or 0600 for a
// first table. Returns the errno of the step that failed. It happens only
// once the file holds the whole table, and a mode wider than the temporary
// file's lets no one read more than the old table already let them.
int takeOverAttributes(int fd, const struct stat* old)
{
    struct stat mine
    {
    };
    if (::fstat(fd, &mine) != 0)
        return errno;
    bool changed = false;
    // Before the mode: a change of owner clears the set-id bits.
    if (old != nullptr && (mine.st_uid != old->st_uid || mine.st_gid != old->st_gid)) {
        if (::fchown(fd, old->st_uid, old->st_gid) != 0)
            return errno;
        changed = true;
    }
    // Left alone when it is right already, as for a private table: a change
    // of the inode costs its sync a good part of a save's time.
    const mode_t mode = old != nullptr ? old->st_mode & 07777 : PrivateMode;
    if ((changed || (mine.st_mode & 07777) != mode) && ::fchmod(fd, mode) != 0)
        return errno;
    return 0;
}

// Writes the table over the old one in the same file, which keeps its inode,
// owner, group and mode. The blocks are reserved first, so a full disk fails
// the save before a byte of the old table is overwritten. Returns as
// SaveUserTable does.
std::optional<int> writeInPlace(const std::string& target, const std::string& bytes)
{
    const int fd = openRegular(target, O_WRONLY | O_NOFOLLOW);
    if (fd < 0)
        throwNotOpened(target, errno);
    struct stat st
    {
    };
    int err = ::fstat(fd, &st) != 0 ? errno : 0;
    const off_t size = static_cast<off_t>(bytes.size());
    if (err == 0 && st.st_size < size) {
        const int reserved = ::posix_fallocate(fd, 0, size);
        if (reserved != 0 && reserved != EINVAL && reserved != EOPNOTSUPP) {
            // A reservation cut short may have lengthened the file; a table
            // of its old length reads as it did.
            struct stat now
            {
            };
            if (::fstat(fd, &now) == 0 && now.st_size != st.st_size) {
                const int ignored = ::ftruncate(fd, st.st_size);
                (void)ignored;
            }
            err = reserved;
        }
    }
    if (err == 0)
        err = fileops::writeAllAt(fd, bytes.data(), bytes.size(), 0);
    if (err == 0 && st.st_size > size && ::ftruncate(fd, size) != 0)
        err = errno;
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (err != 0) {
        closeQuietly(fd);
        throwErrno(err);
    }
    // Synced already: a failing close loses nothing the file holds.
    if (::close(fd) != 0 && errno != EINTR)
        return ioCodeFromErrno(errno);
    return std::nullopt;
}

} // namespace

void LoadUserTable(UserTable& table, const std::string& path, std::string* fileBytes)
{
    int fd = -1;
    for (;;) {
        fd = openRegular(path, O_RDWR);
        // A table shared to read only (a group that may look but not
        // change) is read all the same; a save is what it refuses.
        if (fd < 0 && (errno == EACCES || errno == EROFS))
            fd = openRegular(path, O_RDONLY);
        if (fd >= 0)
            break;
        // Only a table that is not there is replaced by an empty one; a file
        // we merely cannot open is left alone and the error reported.
        if (errno != ENOENT || isLink(path))
            throwNotOpened(path, errno);
        if (createEmptyTable(path)) {
            table.ClearEmptySlots();
            if (fileBytes)
                fileBytes->clear();
            return;
        }
    }

    // Read and check the whole file before anything reaches the table, so a
    // failed load leaves the table as it was. One byte more than a table
    // tells a longer file from one of exactly 6565 bytes.
    std::string buffer = readAll(fd);
    closeChecked(fd);
    const std::size_t records = std::min<std::size_t>(buffer.size() / UserRecordSize, SlotCount);
    if (buffer.size() < UserTableFileSize && buffer.size() % UserRecordSize != 0)
        throw IoError(100);

    table.setRecords(buffer, records);
    table.ClearEmptySlots();
    if (fileBytes)
        *fileBytes = std::move(buffer);
}

UserTable tableFromBytes(const std::string& bytes)
{
    if (bytes.size() < UserTableFileSize && bytes.size() % UserRecordSize != 0)
        throw IoError(100);
    UserTable table;
    table.setRecords(bytes, std::min<std::size_t>(bytes.size() / UserRecordSize, SlotCount));
    table.ClearEmptySlots();
    return table;
}

std::optional<std::string> peekTableFile(const std::string& path)
{
    const int fd = openRegular(path, O_RDONLY);
    if (fd < 0) {
        if (errno == ENOENT && !isLink(path))
            return std::nullopt;
        throwNotOpened(path, errno);
    }
    std::string bytes = readAll(fd);
    closeChecked(fd);
    return bytes;
}

std::optional<int> SaveUserTable(const UserTable& table, const std::string& path)
{
    const std::string buffer = table.bytes();
    const std::string target = fileops::resolveLinks(path);

    struct stat old
    {
    };
    const bool hadOld = ::lstat(target.c_str(), &old) == 0;
    if (!hadOld && errno != ENOENT)
        throwErrno(errno);
    if (hadOld && !mayBeTable(old))
        throw IoError(5);
    // The rename would replace even a file we may not write; a table made
    // read-only stays protected, as with writing it in place.
    if (hadOld && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        throwErrno(errno);

    std::string tempName;
    const int fd =
        createTempBeside(target, hadOld ? old.st_mode & PrivateMode : PrivateMode, tempName);
    if (fd < 0) {
        const int err = errno;
        // A shared folder may let people write the table but not add files.
        if (hadOld && (err == EACCES || err == EPERM || err == EROFS))
            return writeInPlace(target, buffer);
        throwErrno(err);
    }

    int err = fileops::writeAllAt(fd, buffer.data(), buffer.size(), 0);
    if (err == 0)
        err = runHook(SaveStep::TempWritten, tempName);
    bool inPlace = false;
    if (err == 0) {
        err = takeOverAttributes(fd, hadOld ? &old : nullptr);
        // Only root may hand a file to another owner, and only a member of
        // a group to that group: a new file would take the table from them.
        inPlace = hadOld && cannotKeep(err);
    }
    err = fileops::syncCloseRename(fd, err, tempName, target);
    if (err != 0) {
        ::unlink(tempName.c_str());
        if (inPlace)
            return writeInPlace(target, buffer);
        throwErrno(err);
    }

    err = syncFolderOf(target);
    if (err != 0)
        return ioCodeFromErrno(err);
    return std::nullopt;
}

bool CreateUserTableFile(const std::string& path)
{
    for (;;) {
        const int fd = openRegular(path, O_RDONLY);
        if (fd >= 0) {
            closeChecked(fd);
            return false;
        }
        if (errno != ENOENT || isLink(path))
            throwNotOpened(path, errno);
        if (createEmptyTable(path))
            return true;
    }
}

void removeStaleTemporaries(const std::string& tablePath)
{
    std::string target;
    try {
        target = fileops::resolveLinks(tablePath);
    } catch (const IoError&) {
        return;
    }
    const std::string folder = folderOf(target);
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr)
        return;
    const std::string prefix = tempPrefix(nameOf(target));
    const long self = ::getpid();
    while (const dirent* entry = ::readdir(dir)) {
        const long owner = tempOwner(entry->d_name, prefix);
        if (owner == 0 || owner == self || !fileops::processGone(owner))
            continue;
        struct stat st
        {
        };
        // Another user's file is theirs to remove, whatever its name says.
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}
