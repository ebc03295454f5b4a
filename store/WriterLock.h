#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <sys/stat.h>

// Who saved the table last, and when, as each save leaves it in the lock
// file. Anyone who may write the lock file may write this too: it tells
// people something, and decides nothing.
struct WriterRecord
{
    // The operating-system account, its name in the file system's encoding
    // (empty when unknown).
    std::string systemUser;
    std::optional<unsigned long> uid;
    // The table's login that was signed in, UTF-8; empty when none.
    std::string login;
    // The machine, in printable ASCII.
    std::string host;
    // Seconds since the epoch.
    std::int64_t time = 0;
    // writerRecordDigest() of the table the save wrote: a record of another
    // table than the one at the name (written since by a copy that leaves
    // no record, or by hand) is no one's record of it.
    std::string table;
};

// A short fingerprint of a table file's bytes, for telling the table a
// record was written with from another; no safeguard against forgery.
std::string writerRecordDigest(std::string_view tableBytes);

// The record as the lock file holds it: a line to know it by, one line a
// field, and a last line that tells a whole record from a cut one. A field
// that would break its line (a line break or NUL in it) is left out.
std::string formatWriterRecord(const WriterRecord& record);
// The record `text` holds; nothing for anything else (empty, cut, garbage,
// a field too long, a host of other than printable ASCII, no time or table).
std::optional<WriterRecord> parseWriterRecord(std::string_view text);

// Lets one writer at a time read, compare and replace a table file, across
// processes and, where the file system hands byte-range locks to its server
// (local file systems, NFS with its lock service, SMB mounts with byte-range
// locks), across machines. The lock is an open-file-description record lock
// on ".<table name>.writer" beside the file a link names, the one file every
// writer locks: never the table, which each save replaces.
//
// Anyone who may add files to the folder may put something else at that
// name, or remove the file while a window keeps it open. So the file is
// made exclusively, no link is ever followed, nothing but a plain file of a
// single name is opened (and never in a way that could block), and each
// take checks, with the lock held, that the locked file is still the one at
// that name; when it is not, the lock is taken again on the file that is.
// The file may still be removed while a writer holds it, and the next writer
// then makes and locks a new one; so a hold also locks the table file as it
// is at the take (checked, likewise, to be the one at the table's name). A
// writer let in by a removed lock file then waits on the table until the
// save before it is in place, and finds that table replaced by then: it
// locks the new one, and reads what the save before it wrote.
// A file found there is used whoever owns it, as a shared table's writers
// are several users. It holds no more than the last writer's record (see
// WriterRecord), written by each save through the locked descriptor, never
// by its name. Where the lock cannot be taken safely the take fails with a
// message that says what to fix, and nothing is written.
//
// Being open-file-description locks, two holders in one process exclude each
// other as two processes do, and closing some other descriptor of the file
// never drops the lock.
class WriterLock
{
public:
    explicit WriterLock(std::string tablePath);
    ~WriterLock();
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    // Takes the lock, or counts one more hold when it is held already. A
    // writer holding it is waited for up to `wait`; `onWait` (when given) is
    // called once if there is any waiting to do. Raises IoError: 32 ("File
    // locked by another writer") when the wait ends with the lock still
    // taken; 5 with a message naming the lock file and what to do where it
    // may not be made, opened or safely used; another code for any other
    // fault of the file. Where the file system keeps no locks at all, the
    // take succeeds unlocked and notice() has something to say.
    void acquire(std::chrono::milliseconds wait, const std::function<void()>& onWait = {});
    // Gives back one hold; the last one lets the next writer in.
    void release();
    bool held() const { return m_depth > 0; }

    // What the table file holds, while held: read from the table as it was
    // locked (it is the file at the table's name, as no other writer may
    // replace it meanwhile), else as peekTableFile reads it. Nothing when
    // there is no table.
    std::optional<std::string> readTable() const;

    // While held: leaves the record of this save in the lock file, stamped
    // with this machine and the time, in place of the one before. A fault
    // is ignored: the save does not depend on it, and nothing is waited
    // for. A file far larger than any record is someone else's content and
    // is left as it is.
    void recordWriter(const std::string& systemUser, std::optional<unsigned long> uid,
                      const std::string& login, std::string_view tableBytes) noexcept;
    // While held: the record the last save left there; nothing when there
    // is none, or none that can be read.
    std::optional<WriterRecord> lastWriter() const;

    // Once, after a take found the file system without locks: that saves
    // run unlocked, in words for the person. Nothing afterwards.
    std::optional<std::string> takeNotice();

    // A hold for a scope.
    class Hold
    {
    public:
        Hold(WriterLock& lock, std::chrono::milliseconds wait,
             const std::function<void()>& onWait = {})
            : m_lock(&lock)
        {
            lock.acquire(wait, onWait);
        }
        ~Hold()
        {
            if (m_lock)
                m_lock->release();
        }
        Hold(Hold&& other) noexcept : m_lock(other.m_lock) { other.m_lock = nullptr; }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        Hold& operator=(Hold&&) = delete;

    private:
        WriterLock* m_lock;
    };

private:
    using Clock = std::chrono::steady_clock;
    void closeFile();
    void closeTable();
    void lockTable(const std::string& target, struct stat seen, Clock::time_point deadline,
                   const std::function<void()>& onWait, bool& told);

    std::string m_tablePath;
    // The lock file, kept open from one take to the next while it is still
    // the file at its name.
    int m_fd = -1;
    std::string m_lockPath;
    // Which file that is, to tell it from whatever is at the name later.
    dev_t m_lockDev = 0;
    ino_t m_lockIno = 0;
    // The table, locked too for the length of a hold (see acquire()).
    int m_tableFd = -1;
    int m_depth = 0;
    // The current hold runs without a lock: the file system keeps none.
    bool m_unlocked = false;
    enum class Notice
    {
        None,
        Due,
        Given
    } m_notice = Notice::None;
    std::string m_noticeText;
};

// For tests only: stands in for the system's answer to a take of the lock on
// `fd`. Returning 0 lets the real take go ahead; an errno fails it with that.
namespace writerlock_testing {
extern int (*LockHook)(int fd);
} // namespace writerlock_testing
