#include "TableLock.h"

#include "FileOps.h"
#include "IoError.h"

#include <cerrno>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using fileops::closeQuietly;
using fileops::openRetrying;

constexpr const char* ProgramName = "larkledger-security";

enum class Native
{
    Taken,
    Busy,
    // No record locks here (some network file systems): the process id alone
    // tells a stale lock.
    Unsupported,
};

// `type` is F_WRLCK, or F_RDLCK on a descriptor open for reading only: either
// fails while another holds the write lock. The lock belongs to the open
// file, not to the process: a process's own record locks would all go with
// the first close of any descriptor of the file in it, and another lock of
// the same process would never be refused.
Native takeNativeLock(int fd, short type)
{
    struct flock lock
    {
    };
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
#ifdef F_OFD_SETLK
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return Native::Taken;
    // Kernels before 3.15 know only the process's locks; they still tell
    // other processes apart.
    if (errno != EINVAL)
        return errno == EAGAIN || errno == EACCES ? Native::Busy : Native::Unsupported;
#endif
    if (::fcntl(fd, F_SETLK, &lock) == 0)
        return Native::Taken;
    return errno == EAGAIN || errno == EACCES ? Native::Busy : Native::Unsupported;
}

struct Holder
{
    long pid = 0;
    std::string host;
};

// The host a lock file gives is shown to people, and anyone who may write in
// the folder may have written it. A host name has at most 255 bytes, all of
// them printable ASCII; any other character (a control, a direction
// override, a byte of no character) is shown as one '?'.
std::string displayableHost(const std::string& line)
{
    constexpr std::size_t MaxHostName = 255;
    std::string shown;
    for (std::size_t i = 0; i < line.size() && shown.size() < MaxHostName; ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        const bool continuation =
            byte >= 0x80 && byte < 0xc0 && i > 0 && static_cast<unsigned char>(line[i - 1]) >= 0x80;
        if (byte >= 0x20 && byte < 0x7f)
            shown += static_cast<char>(byte);
        else if (!continuation)
            shown += '?';
    }
    return shown;
}

// 0 unless `text` is a process id: digits, no more than a pid_t takes.
long parsePid(const std::string& text)
{
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    unsigned long long value = 0;
    for (const char digit : text)
        value = value * 10 + static_cast<unsigned>(digit - '0');
    return value <= 0x7fffffff ? static_cast<long>(value) : 0;
}

// "<pid>\n<program>\n<host>\n"; a file of two lines is read as pid and host,
// and a last line may lack its line break. A pid of 0 means the file names
// no holder.
Holder readHolder(int fd)
{
    char buffer[1024];
    const long got = fileops::readPrefix(fd, buffer, sizeof buffer);
    Holder holder;
    if (got <= 0)
        return holder;
    std::string lines[3];
    int count = 0;
    for (long i = 0; i < got && count < 3; ++i) {
        if (buffer[i] == '\n')
            ++count;
        else
            lines[count] += buffer[i];
    }
    if (count < 3 && !lines[count].empty())
        ++count;
    const std::string& host = count >= 3 ? lines[2] : lines[1];
    const long pid = parsePid(lines[0]);
    if (count < 2 || pid == 0 || host.empty())
        return holder;
    holder.pid = pid;
    holder.host = displayableHost(host);
    return holder;
}

// True while `path` still names the file open on `fd`: a lock file is only
// ever taken over or removed by whoever checked it is the one they looked at.
bool stillAt(int fd, const std::string& path)
{
    struct stat open
    {
    };
    struct stat named
    {
    };
    return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Gives the lock file the table's group and read and write bits, so that
// whoever may read the table may read who holds it and see whether that
// copy still runs (its record lock); a table of its owner's alone keeps the
// lock so too. Where the table is not there to go by, the lock is private.
bool shareAsTable(int fd, const std::string& table)
{
    struct stat st
    {
    };
    mode_t mode = 0600;
    if (::stat(table.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        // Only a member of the group may hand the file to it; anyone else's
        // lock stays in their own group, readable as the mode says.
        if (::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0 && errno != EPERM)
            return false;
        mode = (st.st_mode & 0666) | 0600;
    }
    return ::fchmod(fd, mode) == 0 || errno == EPERM;
}

} // namespace

TableLock::TableLock(std::string tablePath) : m_tablePath(std::move(tablePath)) {}

TableLock::~TableLock()
{
    unlock();
}

TableLock::State TableLock::fail(int code)
{
    m_error = code;
    m_state = State::Failed;
    return m_state;
}

bool TableLock::claim(int fd)
{
    const std::string content =
        std::to_string(::getpid()) + "\n" + ProgramName + "\n" + fileops::hostTag() + "\n";
    // The umask must not narrow the owner's own bits, nor a taken-over file
    // stay wider than a new one.
    if (!shareAsTable(fd, m_tablePath))
        return false;
    if (::ftruncate(fd, 0) != 0)
        return false;
    const int err = fileops::writeAllAt(fd, content.data(), content.size(), 0);
    errno = err;
    return err == 0;
}

TableLock::State TableLock::tryLock()
{
    if (m_state == State::Acquired)
        return m_state;
    m_holderPid = 0;
    m_holderHost.clear();
    m_error = 0;
    try {
        const std::string target = fileops::resolveLinks(m_tablePath);
        m_lockPath = fileops::folderOf(target) + "." + fileops::nameOf(target) + ".lock";
    } catch (const IoError& e) {
        return fail(e.code());
    }

    // Each round either settles the state or finds the file changed hands
    // meanwhile; a file that keeps changing is in someone else's use.
    for (int round = 0; round < 8; ++round) {
        const int fd = openRetrying(m_lockPath.c_str(),
                                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, 0600);
        if (fd >= 0) {
            // Between the create and the record lock another copy may have
            // taken the empty file for a dead one's; it is theirs then.
            if (takeNativeLock(fd, F_WRLCK) == Native::Busy) {
                closeQuietly(fd);
                continue;
            }
            if (!claim(fd)) {
                const int err = errno;
                ::unlink(m_lockPath.c_str());
                closeQuietly(fd);
                return fail(ioCodeFromErrno(err));
            }
            m_fd = fd;
            m_state = State::Acquired;
            return m_state;
        }
        if (errno != EEXIST)
            return fail(ioCodeFromErrno(errno));
        if (lookAtExisting() == Look::Done)
            return m_state;
    }
    m_state = State::HeldByOther;
    return m_state;
}

TableLock::Look TableLock::lookAtExisting()
{
    // Nothing but a plain file is even opened: opening a device may set it
    // going, whatever the flags.
    struct stat st
    {
    };
    if (::lstat(m_lockPath.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return Look::Again;
        fail(ioCodeFromErrno(errno));
        return Look::Done;
    }
    if (!S_ISREG(st.st_mode)) {
        fail(5);
        return Look::Done;
    }
    bool writable = true;
    int fd = openRetrying(m_lockPath.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0 && errno == EACCES) {
        writable = false;
        fd = openRetrying(m_lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    }
    if (fd < 0) {
        if (errno == ENOENT)
            return Look::Again;
        // Another user's lock that we may not even read.
        if (errno == EACCES)
            m_state = State::HeldByOther;
        else
            fail(ioCodeFromErrno(errno));
        return Look::Done;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        closeQuietly(fd);
        fail(5);
        return Look::Done;
    }

    // The record lock alone tells whether a copy holds the file: the system
    // drops it when its holder ends, however that happens, while the process
    // id in the file may by now belong to anything else.
    const Native native = takeNativeLock(fd, writable ? F_WRLCK : F_RDLCK);
    const Holder holder = native == Native::Taken ? Holder{} : readHolder(fd);
    const bool stale = native == Native::Taken ||
                       (native == Native::Unsupported && holder.pid != 0 &&
                        holder.host == fileops::hostTag() && fileops::processGone(holder.pid));
    if (!stale) {
        closeQuietly(fd);
        m_holderPid = holder.pid;
        m_holderHost = holder.host;
        m_state = State::HeldByOther;
        return Look::Done;
    }
    if (!stillAt(fd, m_lockPath)) {
        closeQuietly(fd);
        return Look::Again;
    }
    // Only a file of our own, known by this one name, is written: another
    // user's, or a second name of some other file, is replaced instead.
    if (native == Native::Taken && writable && st.st_uid == ::geteuid() && st.st_nlink == 1) {
        // Taken over where it lies: whoever looks next meets our record lock.
        if (!claim(fd)) {
            const int err = errno;
            closeQuietly(fd);
            fail(ioCodeFromErrno(err));
            return Look::Done;
        }
        m_fd = fd;
        m_state = State::Acquired;
        return Look::Done;
    }
    // A file we may not write, another user's, or one where record locks
    // are unknown, is replaced. A read lock held meanwhile keeps anyone from taking it over
    // in place just before it goes.
    if (::unlink(m_lockPath.c_str()) != 0 && errno != ENOENT) {
        const int err = errno;
        closeQuietly(fd);
        fail(ioCodeFromErrno(err));
        return Look::Done;
    }
    closeQuietly(fd);
    return Look::Again;
}

void TableLock::unlock()
{
    if (m_fd >= 0) {
        if (stillAt(m_fd, m_lockPath))
            ::unlink(m_lockPath.c_str());
        closeQuietly(m_fd);
        m_fd = -1;
    }
    if (m_state == State::Acquired)
        m_state = State::Unlocked;
}
