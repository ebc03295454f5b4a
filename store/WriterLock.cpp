#include "WriterLock.h"

#include "FileOps.h"
#include "IoError.h"
#include "TableFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int (*writerlock_testing::LockHook)(int) = nullptr;

namespace {

using fileops::closeQuietly;

constexpr int LockedByAnotherWriter = 32;
constexpr int Refused = 5;
// Takes of a lock file that keeps being replaced or removed under us before
// it is someone's doing rather than bad luck.
constexpr int MaxRetakes = 64;

enum class Attempt
{
    Taken,
    Busy,
    // The file system keeps no record locks (an NFS mount without its lock
    // service).
    NoLocks,
};

Attempt tryLock(int fd, short type = F_WRLCK)
{
    const int hooked = writerlock_testing::LockHook ? writerlock_testing::LockHook(fd) : 0;
    struct flock lock
    {
    };
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    if (hooked == 0 && ::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return Attempt::Taken;
    const int err = hooked != 0 ? hooked : errno;
    if (err == EAGAIN || err == EACCES)
        return Attempt::Busy;
    if (err == ENOLCK || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL)
        return Attempt::NoLocks;
    throw IoError(ioCodeFromErrno(err));
}

std::string lockPathOf(const std::string& target)
{
    return fileops::folderOf(target) + "." + fileops::nameOf(target) + ".writer";
}

// Each text names the lock file and says what to do, as the file system's
// own error would not.
[[noreturn]] void refuseNotPlain(const std::string& lockPath)
{
    const std::string name = fileops::nameOf(lockPath);
    throw IoError(Refused, name +
                               " beside the table is not a plain file of its own (it is a link, "
                               "a special file or a second name of another file), so the writer "
                               "lock cannot be taken safely: nothing was written. Remove " +
                               name + "; the next save makes it anew.");
}

[[noreturn]] void refuseUnopenable(const std::string& lockPath)
{
    const std::string name = fileops::nameOf(lockPath);
    throw IoError(Refused, name +
                               " beside the table may not be opened by this user, so the writer "
                               "lock cannot be taken: nothing was written. Have " +
                               name +
                               " removed, or given the table's group and permissions, so that "
                               "everyone who writes the table may open it.");
}

[[noreturn]] void refuseFolder(const std::string& lockPath)
{
    const std::string name = fileops::nameOf(lockPath);
    throw IoError(Refused,
                  "The table's folder takes no new files from this user, so the writer lock " +
                      name +
                      " cannot be made: nothing was written. Let the table's writers create files "
                      "in the folder, or have " +
                      name +
                      " made there once, as an empty file with the table's owner, group and "
                      "permissions.");
}

[[noreturn]] void refuseChanging(const std::string& lockPath)
{
    const std::string name = fileops::nameOf(lockPath);
    throw IoError(Refused, name +
                               " beside the table was replaced or removed again and again while "
                               "this save took the writer lock: nothing was written. Try again, "
                               "and find out what removes " +
                               name + ".");
}

// A file that may serve as the lock: a plain file known by this one name, so
// that whoever opens the name locks this very file.
bool usable(const struct stat& st)
{
    return S_ISREG(st.st_mode) && st.st_nlink == 1;
}

// True while `path` names the file of that device and inode, and it may
// serve as the lock. What the name shows is enough: the inode is the one
// open, and a second name would show in its link count.
bool stillAt(const std::string& path, dev_t dev, ino_t ino, bool single)
{
    struct stat named
    {
    };
    return ::lstat(path.c_str(), &named) == 0 && named.st_dev == dev && named.st_ino == ino &&
           (!single || usable(named));
}

// The lock file at `lockPath`, made where there is none with the table's
// permissions, so that whoever may write the table may also take the lock.
int openLockFile(const std::string& lockPath, const struct stat& table, struct stat& st)
{
    const bool hasTable = S_ISREG(table.st_mode);
    const mode_t mode = (hasTable ? (table.st_mode & 0666) : 0) | 0600;
    for (int round = 0; round < MaxRetakes; ++round) {
        int fd = fileops::openRetrying(
            lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
        if (fd >= 0) {
            // The umask must not keep the table's writers from the lock.
            if (::fchmod(fd, mode) != 0 || ::fstat(fd, &st) != 0) {
                const int err = errno;
                closeQuietly(fd);
                throw IoError(ioCodeFromErrno(err));
            }
            return fd;
        }
        if (errno != EEXIST) {
            if (errno == EACCES || errno == EPERM)
                refuseFolder(lockPath);
            throw IoError(ioCodeFromErrno(errno));
        }
        // Something is there already. Only a plain file is opened, and
        // never so that the open could wait (a FIFO) or follow a link.
        if (::lstat(lockPath.c_str(), &st) != 0) {
            if (errno == ENOENT)
                continue;
            throw IoError(ioCodeFromErrno(errno));
        }
        if (!usable(st))
            refuseNotPlain(lockPath);
        fd = fileops::openRetrying(lockPath.c_str(),
                                   O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT)
                continue;
            if (errno == ELOOP || errno == ENXIO || errno == EISDIR)
                refuseNotPlain(lockPath);
            if (errno == EACCES || errno == EPERM)
                refuseUnopenable(lockPath);
            throw IoError(ioCodeFromErrno(errno));
        }
        if (::fstat(fd, &st) != 0) {
            const int err = errno;
            closeQuietly(fd);
            throw IoError(ioCodeFromErrno(err));
        }
        // Removed since it was opened: whatever is at the name now is the
        // lock.
        if (st.st_nlink == 0) {
            closeQuietly(fd);
            continue;
        }
        if (!usable(st)) {
            closeQuietly(fd);
            refuseNotPlain(lockPath);
        }
        // A table opened to a group after the lock file was made: whoever
        // may write the table must be able to take the lock too. Only our
        // own file is touched.
        if (hasTable && st.st_uid == ::geteuid() && (st.st_mode & 0666) != mode) {
            const int ignored = ::fchmod(fd, mode);
            (void)ignored;
        }
        return fd;
    }
    refuseChanging(lockPath);
}

// The table file itself for its lock, or -1 where there is none to lock: no
// table yet, or something no save would write. Opened for reading only by
// whoever may not write it (a backup): a read lock still keeps out every
// writer.
int openTable(const std::string& target, const struct stat& seen, short& type, struct stat& st)
{
    if (!S_ISREG(seen.st_mode))
        return -1;
    type = F_WRLCK;
    int fd = fileops::openRetrying(target.c_str(),
                                   O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        type = F_RDLCK;
        fd = fileops::openRetrying(target.c_str(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        closeQuietly(fd);
        return -1;
    }
    return fd;
}

// The writer record's first and last lines, and the most it may hold: a
// larger lock file is no record, nor ours to cut.
constexpr std::string_view RecordStart = "larkledger writer 1";
constexpr std::string_view RecordEnd = "end";
constexpr std::size_t MaxRecord = 2048;
constexpr std::size_t MaxRecordField = 255;

bool allDigits(std::string_view text, std::size_t most)
{
    return !text.empty() && text.size() <= most &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
}

unsigned long long numberOf(std::string_view digits)
{
    unsigned long long value = 0;
    for (const char digit : digits)
        value = value * 10 + static_cast<unsigned>(digit - '0');
    return value;
}

bool printableAscii(std::string_view text)
{
    for (const char c : text) {
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

} // namespace

std::string writerRecordDigest(std::string_view tableBytes)
{
    // FNV-1a, 64 bits, eight bytes a step: enough to tell two tables apart
    // by chance, and cheap beside the save it follows.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    std::size_t at = 0;
    for (; at + 8 <= tableBytes.size(); at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, tableBytes.data() + at, 8);
        hash ^= word;
        hash *= 0x100000001b3ULL;
    }
    for (; at < tableBytes.size(); ++at) {
        hash ^= static_cast<unsigned char>(tableBytes[at]);
        hash *= 0x100000001b3ULL;
    }
    static const char hex[] = "0123456789abcdef";
    std::string digest(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4)
        digest[static_cast<std::size_t>(i)] = hex[hash & 0xf];
    return digest;
}

std::string formatWriterRecord(const WriterRecord& record)
{
    std::string text = std::string(RecordStart) + "\ntime " + std::to_string(record.time) + "\n";
    if (record.uid)
        text += "uid " + std::to_string(*record.uid) + "\n";
    const std::pair<const char*, const std::string*> texts[] = {{"table", &record.table},
                                                                {"user", &record.systemUser},
                                                                {"login", &record.login},
                                                                {"host", &record.host}};
    for (const auto& [key, value] : texts) {
        if (!value->empty() && value->size() <= MaxRecordField &&
            value->find_first_of(std::string_view("\n\0", 2)) == std::string::npos)
            text += std::string(key) + " " + *value + "\n";
    }
    return text + std::string(RecordEnd) + "\n";
}

std::optional<WriterRecord> parseWriterRecord(std::string_view text)
{
    if (text.size() > MaxRecord || text.empty() || text.back() != '\n')
        return std::nullopt;
    WriterRecord record;
    bool timed = false;
    bool ended = false;
    std::string seen;
    std::size_t at = 0;
    for (int line = 0; at < text.size(); ++line) {
        const std::size_t end = text.find('\n', at);
        const std::string_view whole = text.substr(at, end - at);
        at = end + 1;
        if (ended)
            return std::nullopt;
        if (line == 0) {
            if (whole != RecordStart)
                return std::nullopt;
            continue;
        }
        if (whole == RecordEnd) {
            ended = true;
            continue;
        }
        const std::size_t space = whole.find(' ');
        if (space == std::string_view::npos)
            return std::nullopt;
        const std::string_view key = whole.substr(0, space);
        const std::string_view value = whole.substr(space + 1);
        // A field twice is no record of one save.
        const std::string tag = "<" + std::string(key) + ">";
        if (seen.find(tag) != std::string::npos || value.size() > MaxRecordField)
            return std::nullopt;
        seen += tag;
        if (key == "time") {
            if (!allDigits(value, 18))
                return std::nullopt;
            record.time = static_cast<std::int64_t>(numberOf(value));
            timed = true;
        } else if (key == "uid") {
            if (!allDigits(value, 10) || numberOf(value) > 0xffffffffULL)
                return std::nullopt;
            record.uid = static_cast<unsigned long>(numberOf(value));
        } else if (key == "user") {
            record.systemUser = std::string(value);
        } else if (key == "login") {
            record.login = std::string(value);
        } else if (key == "table") {
            record.table = std::string(value);
        } else if (key == "host") {
            if (!printableAscii(value))
                return std::nullopt;
            record.host = std::string(value);
        }
        // Other keys are a later version's: skipped.
    }
    if (!timed || !ended || record.table.empty())
        return std::nullopt;
    return record;
}

WriterLock::WriterLock(std::string tablePath) : m_tablePath(std::move(tablePath)) {}

WriterLock::~WriterLock()
{
    closeFile();
}

void WriterLock::closeFile()
{
    if (m_fd >= 0)
        closeQuietly(m_fd);
    m_fd = -1;
    closeTable();
}

void WriterLock::closeTable()
{
    // Closing the last descriptor of an open file description drops its lock.
    if (m_tableFd >= 0)
        closeQuietly(m_tableFd);
    m_tableFd = -1;
}

void WriterLock::lockTable(const std::string& target, struct stat seen, Clock::time_point deadline,
                           const std::function<void()>& onWait, bool& told)
{
    for (;;) {
        short type = F_WRLCK;
        struct stat opened
        {
        };
        m_tableFd = openTable(target, seen, type, opened);
        if (m_tableFd < 0)
            return;
        Attempt attempt;
        while ((attempt = tryLock(m_tableFd, type)) == Attempt::Busy) {
            if (Clock::now() >= deadline)
                throw IoError(LockedByAnotherWriter);
            if (!told && onWait) {
                told = true;
                onWait();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (attempt == Attempt::Taken && stillAt(target, opened.st_dev, opened.st_ino, false))
            return;
        // Without locks the table is read by its name, as it is.
        if (attempt == Attempt::NoLocks) {
            closeTable();
            return;
        }
        // Replaced by a save while we waited: the table now at the name is
        // the one to read and replace.
        closeTable();
        if (Clock::now() >= deadline)
            throw IoError(LockedByAnotherWriter);
        if (::lstat(target.c_str(), &seen) != 0)
            seen = {};
    }
}

void WriterLock::acquire(std::chrono::milliseconds wait, const std::function<void()>& onWait)
{
    if (m_depth > 0) {
        ++m_depth;
        return;
    }
    struct stat table
    {
    };
    const std::string target = fileops::resolveLinks(m_tablePath, table);
    const std::string lockPath = lockPathOf(target);
    if (m_fd >= 0 && lockPath != m_lockPath)
        closeFile();
    const Clock::time_point deadline = Clock::now() + wait;
    bool told = false;
    for (int round = 0;; ++round) {
        if (m_fd < 0) {
            struct stat st
            {
            };
            m_fd = openLockFile(lockPath, table, st);
            m_lockPath = lockPath;
            m_lockDev = st.st_dev;
            m_lockIno = st.st_ino;
        }
        Attempt attempt;
        while ((attempt = tryLock(m_fd)) == Attempt::Busy) {
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
        if (attempt == Attempt::NoLocks) {
            m_unlocked = true;
            if (m_notice == Notice::None) {
                m_notice = Notice::Due;
                m_noticeText = "The file system of " + fileops::nameOf(target) +
                               " keeps no locks: saves run without the writer lock, and only the "
                               "check for changes made meanwhile guards two saves at the same "
                               "moment.";
            }
            m_depth = 1;
            return;
        }
        // Locked, but perhaps a file that was removed or replaced since it
        // was opened (by this take, or one before, as the file stays open
        // from one take to the next): then others lock the one at the name
        // now, and so must we. Closing drops the lock on the stray file.
        if (stillAt(lockPath, m_lockDev, m_lockIno, true)) {
            // The lock file may still be removed while we hold it, and the
            // next writer then locks a new one. The table itself, locked as
            // well, keeps that writer out until this one's save is in place:
            // it finds the table it waited for replaced, and locks the new.
            try {
                lockTable(target, table, deadline, onWait, told);
            } catch (const IoError&) {
                // Closed, so that no one waits on a lock we gave up.
                closeFile();
                throw;
            }
            m_unlocked = false;
            m_depth = 1;
            return;
        }
        closeFile();
        if (round + 1 >= MaxRetakes)
            refuseChanging(lockPath);
    }
}

void WriterLock::release()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    if (m_unlocked) {
        m_unlocked = false;
        return;
    }
    struct flock unlock
    {
    };
    unlock.l_type = F_UNLCK;
    unlock.l_whence = SEEK_SET;
    // Closing the descriptor ends the lock with it.
    closeTable();
    if (::fcntl(m_fd, F_OFD_SETLK, &unlock) != 0)
        closeFile();
}

std::optional<std::string> WriterLock::readTable() const
{
    struct stat st
    {
    };
    // A table removed since the take is read by its name: there is none.
    if (m_depth == 0 || m_tableFd < 0 || ::fstat(m_tableFd, &st) != 0 || st.st_nlink == 0)
        return peekTableFile(m_tablePath);
    if (static_cast<std::uintmax_t>(st.st_size) > MaxTableFileSize)
        throw IoError(5);
    // One read, where opening the file by its name again would cost four
    // calls more: this is on every save's way.
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    const long got = fileops::readPrefix(m_tableFd, bytes.data(), bytes.size());
    if (got < 0)
        throw IoError(ioCodeFromErrno(errno));
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}

void WriterLock::recordWriter(const std::string& systemUser, std::optional<unsigned long> uid,
                              const std::string& login, std::string_view tableBytes) noexcept
{
    if (m_depth == 0 || m_fd < 0)
        return;
    try {
        struct stat st
        {
        };
        if (::fstat(m_fd, &st) != 0 || static_cast<std::uintmax_t>(st.st_size) > MaxRecord)
            return;
        WriterRecord record;
        record.systemUser = systemUser;
        record.uid = uid;
        record.login = login;
        record.host = fileops::hostTag();
        record.time = static_cast<std::int64_t>(std::time(nullptr));
        record.table = writerRecordDigest(tableBytes);
        const std::string text = formatWriterRecord(record);
        // What a failed write leaves is cut away: half of this record
        // and half of the one before must not read as anybody's.
        // Cut only where the record before was longer: a truncate of every
        // save's record cost the save more than the rest of it together.
        const bool written = fileops::writeAllAt(m_fd, text.data(), text.size(), 0) == 0;
        if (!written || static_cast<std::uintmax_t>(st.st_size) > text.size()) {
            const int ignored = ::ftruncate(m_fd, written ? static_cast<off_t>(text.size()) : 0);
            (void)ignored;
        }
    } catch (...) {
        // Out of memory for a few hundred bytes: the save goes on without.
    }
}

std::optional<WriterRecord> WriterLock::lastWriter() const
{
    if (m_depth == 0 || m_fd < 0)
        return std::nullopt;
    char buffer[MaxRecord + 1];
    const long got = fileops::readPrefix(m_fd, buffer, sizeof buffer);
    if (got <= 0)
        return std::nullopt;
    return parseWriterRecord(std::string_view(buffer, static_cast<std::size_t>(got)));
}

std::optional<std::string> WriterLock::takeNotice()
{
    if (m_notice != Notice::Due)
        return std::nullopt;
    m_notice = Notice::Given;
    return m_noticeText;
}
