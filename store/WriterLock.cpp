#include "WriterLock.h"

#include "FileOps.h"
#include "IoError.h"

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int LockedByAnotherWriter = 32;

enum class Attempt
{
    Taken,
    Busy,
    // The file system keeps no record locks (an NFS mount without its lock
    // service): writers go on unlocked, as they did before the lock existed.
    Unsupported,
};

Attempt TryLock(int fd)
{
    struct flock lock
    {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return Attempt::Taken;
    if (errno == EAGAIN || errno == EACCES)
        return Attempt::Busy;
    return Attempt::Unsupported;
}

// The lock file, made with the table's permissions so that whoever may
// write the table may also take the lock.
int OpenLockFile(const std::string& target)
{
    struct stat table
    {
    };
    const bool hasTable = ::stat(target.c_str(), &table) == 0;
    const mode_t mode = hasTable ? (table.st_mode & 0666) : 0600;
    const std::string path = fileops::FolderOf(target) + "." + fileops::NameOf(target) + ".writer";
    const int fd = fileops::OpenRetrying(
        path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode | 0600);
    if (fd >= 0) {
        struct stat st
        {
        };
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            fileops::CloseQuietly(fd);
            throw IoError(5);
        }
        // A table opened to a group after the lock file was made: whoever
        // may write the table must be able to take the lock too.
        if (hasTable && st.st_uid == ::geteuid() && (st.st_mode & 0666) != (mode | 0600)) {
            const int ignored = ::fchmod(fd, mode | 0600);
            (void)ignored;
        }
        return fd;
    }
    const int err = errno;
    // A folder that takes no new files while the table itself is writable:
    // the save writes the table in place there, so the table is the one
    // file every writer has, and the lock goes on it.
    if (hasTable && (err == EACCES || err == EPERM || err == EROFS)) {
        const int tableFd =
            fileops::OpenRetrying(target.c_str(), O_RDWR | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        if (tableFd >= 0)
            return tableFd;
    }
    throw IoError(IoCodeFromErrno(err));
}

} // namespace

WriterLock::WriterLock(std::string tablePath) : m_tablePath(std::move(tablePath)) {}

WriterLock::~WriterLock()
{
    if (m_fd >= 0)
        fileops::CloseQuietly(m_fd);
}

void WriterLock::acquire(std::chrono::milliseconds wait, const std::function<void()>& onWait)
{
    if (m_depth > 0) {
        ++m_depth;
        return;
    }
    // Opened once and kept: a save then costs the lock two calls.
    if (m_fd < 0)
        m_fd = OpenLockFile(fileops::ResolveLinks(m_tablePath));
    const int fd = m_fd;
    const Clock::time_point deadline = Clock::now() + wait;
    bool told = false;
    for (;;) {
        const Attempt attempt = TryLock(fd);
        if (attempt != Attempt::Busy)
            break;
        if (Clock::now() >= deadline)
            throw IoError(LockedByAnotherWriter);
        if (!told && onWait) {
            told = true;
            onWait();
        }
        // A save holds the lock for milliseconds; a short nap keeps the
        // wait close to that without spinning.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_depth = 1;
}

void WriterLock::release()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    struct flock unlock
    {
    };
    unlock.l_type = F_UNLCK;
    unlock.l_whence = SEEK_SET;
    if (::fcntl(m_fd, F_OFD_SETLK, &unlock) != 0) {
        // Closing the descriptor ends the lock with it.
        fileops::CloseQuietly(m_fd);
        m_fd = -1;
    }
}
