#pragma once

#include <chrono>
#include <functional>
#include <string>

// Lets one writer at a time read, compare and replace a table file, across
// processes and, where the file system hands byte-range locks to its server
// (local file systems, NFS with its lock service, SMB mounts with byte-range
// locks), across machines. The lock is an open-file-description record lock
// on ".<table name>.writer" beside the file a link names. That file stays
// once made: removing it would let two writers each lock a file of their
// own. Being open-file-description locks, two holders in one process
// exclude each other as two processes do, and closing some other descriptor
// of the file never drops the lock.
class WriterLock
{
public:
    explicit WriterLock(std::string tablePath);
    ~WriterLock();
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    // Takes the lock, or counts one more hold when it is held already. A
    // writer holding it is waited for up to `wait`; `onWait` (when given) is
    // called once if there is any waiting to do. Raises IoError: 5 where the
    // lock file may not be made or written, 32 ("File locked by another
    // writer") when the wait ends with the lock still taken.
    void acquire(std::chrono::milliseconds wait, const std::function<void()>& onWait = {});
    // Gives back one hold; the last one lets the next writer in.
    void release();
    bool held() const { return m_depth > 0; }

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
    std::string m_tablePath;
    // The lock file, open from the first acquire on.
    int m_fd = -1;
    int m_depth = 0;
};
