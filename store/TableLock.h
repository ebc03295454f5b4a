#pragma once

#include <string>

// Tells a copy of the program that another running copy has the same table
// open, so it can say so before anyone signs in. The lock is a file beside
// the table (in the folder of the file a link names): ".<table name>.lock",
// of the table's group and read and write bits (0600 where there is no
// table), so that whoever may read the table may tell a live holder from a
// stale file; it holds the holder's process id, the program's name and the host
// name, one a line, as QLockFile writes them. The holder also keeps a POSIX
// record lock on it, of its open file rather than of its process, which the
// system drops when the holder ends, however it ends. That record lock, not
// what the file says, tells whether a copy holds the file: a process id may
// have passed to another process, and anyone who may write in the folder may
// write the file. It also keeps two copies taking over the same stale lock
// from both winning.
//
// Made with O_CREAT | O_EXCL | O_NOFOLLOW, and nothing but a plain file
// found there is opened.
//
// The lock only informs: it keeps nobody from the table. It never blocks and
// never raises.
class TableLock
{
public:
    enum class State
    {
        Unlocked,
        // This object holds the lock until unlock() or its destruction.
        Acquired,
        // A running process holds the file's record lock, or the file may
        // not even be read. holderPid() and holderHost() say whom the file
        // names (pid 0 and no host when it names nobody readable); the host
        // is cut to 255 bytes of printable ASCII, any other character shown
        // as '?'. A file whose record lock is free is no hold, whatever it
        // names: it is taken over without a word (written over when it is
        // our own file of one name, else removed and made anew, so that no
        // file of another user is ever written). Where the file system
        // keeps no record locks, only a file whose process is gone from this
        // host is taken over.
        HeldByOther,
        // The lock file could not be made or read (a folder that refuses new
        // files, say); errorCode() holds the IoError code.
        Failed,
    };

    explicit TableLock(std::string tablePath);
    ~TableLock();
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

    State tryLock();
    // Removes the lock file when this object holds it.
    void unlock();

    State state() const { return m_state; }
    long holderPid() const { return m_holderPid; }
    const std::string& holderHost() const { return m_holderHost; }
    int errorCode() const { return m_error; }
    // Known once tryLock() has looked for the table.
    const std::string& lockFilePath() const { return m_lockPath; }

private:
    enum class Look
    {
        Done,
        Again,
    };
    Look lookAtExisting();
    bool claim(int fd);
    State fail(int code);

    std::string m_tablePath;
    std::string m_lockPath;
    int m_fd = -1;
    State m_state = State::Unlocked;
    long m_holderPid = 0;
    std::string m_holderHost;
    int m_error = 0;
};
