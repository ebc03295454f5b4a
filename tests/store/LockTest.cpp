// The lock that tells a copy of the program another running copy has the
// same table open.

#include "StoreCheck.h"

#include "store/FileOps.h"
#include "store/TableLock.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using storecheck::fileExists;
using storecheck::listWorkingDir;
using storecheck::readFile;
using storecheck::runInChild;
using storecheck::TableFile;
using storecheck::writeFile;

namespace {

const std::string LockFile = std::string(".") + UserTableFileName + ".lock";

char letter(TableLock::State state)
{
    switch (state) {
    case TableLock::State::Unlocked:
        return 'U';
    case TableLock::State::Acquired:
        return 'A';
    case TableLock::State::HeldByOther:
        return 'H';
    case TableLock::State::Failed:
        return 'F';
    }
    return '?';
}

std::string holderText(long pid, const std::string& host = fileops::hostTag())
{
    return std::to_string(pid) + "\nlarkledger-security\n" + host + "\n";
}

mode_t modeOf(const std::string& path)
{
    struct stat st
    {
    };
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void reap(pid_t pid, int* status = nullptr)
{
    int ignored = 0;
    while (::waitpid(pid, status ? status : &ignored, 0) < 0 && errno == EINTR) {
    }
}

// What a child holding a lock file calls once it has tried: it says how it
// went and returns only when the child is released.
using Hold = std::function<void(char state)>;

// Another process holding the table's lock: a child that runs `take`, which
// tries the lock and calls its Hold, and holds on until released or killed.
class OtherCopy
{
public:
    // A copy of the program.
    explicit OtherCopy(const std::string& table)
        : OtherCopy([table](const Hold& hold) {
              TableLock lock(table);
              hold(letter(lock.tryLock()));
              lock.unlock();
          })
    {
    }

    explicit OtherCopy(const std::function<void(const Hold&)>& take)
    {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            throw std::runtime_error("pipe");
        std::fflush(nullptr);
        m_pid = ::fork();
        if (m_pid < 0)
            throw std::runtime_error("fork");
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            take([&](char state) {
                (void)!::write(ready[1], &state, 1);
                char ignored;
                (void)!::read(release[0], &ignored, 1);
            });
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        m_release = release[1];
        if (::read(ready[0], &m_state, 1) != 1)
            m_state = '?';
        ::close(ready[0]);
    }
    ~OtherCopy() { kill(); }
    OtherCopy(const OtherCopy&) = delete;
    OtherCopy& operator=(const OtherCopy&) = delete;

    char state() const { return m_state; }
    pid_t pid() const { return m_pid; }
    // Ends as the program does: the lock released.
    void quit()
    {
        if (m_release >= 0) {
            ::close(m_release);
            m_release = -1;
            reap(m_pid);
        }
    }
    // Ends without a chance to release anything.
    void kill()
    {
        if (m_release >= 0) {
            ::kill(m_pid, SIGKILL);
            reap(m_pid);
            ::close(m_release);
            m_release = -1;
        }
    }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    char m_state = '?';
};

// Not a copy of the program but anyone who may write in the table's folder:
// writes `text` as the lock file, of `mode`, and holds a record lock on it.
std::function<void(const Hold&)> plantedLock(const std::string& path, const std::string& text,
                                             mode_t mode = 0644)
{
    return [=](const Hold& hold) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        struct flock lock
        {
        };
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        const bool held = fd >= 0 &&
                          ::write(fd, text.data(), text.size()) == ssize_t(text.size()) &&
                          ::fcntl(fd, F_SETLK, &lock) == 0 && ::fchmod(fd, mode) == 0;
        hold(held ? 'A' : 'F');
    };
}

} // namespace

TEST(LockIsAPrivateFileBesideTheTable)
{
    const mode_t old = ::umask(0);
    {
        TableLock lock(TableFile);
        CHECK_EQ(letter(lock.tryLock()), 'A');
        CHECK_EQ(lock.lockFilePath(), LockFile);
        CHECK_EQ(modeOf(LockFile), mode_t{0600});
        CHECK_EQ(readFile(LockFile), holderText(::getpid()));
        // Trying again keeps what it holds.
        CHECK_EQ(letter(lock.tryLock()), 'A');

        TableLock second(TableFile);
        CHECK_EQ(letter(second.tryLock()), 'H');
        CHECK_EQ(second.holderPid(), long{::getpid()});
        CHECK_EQ(second.holderHost(), fileops::hostTag());
        // That look opened and closed the file in this process: the lock
        // holds for other processes all the same.
        const auto outcome = ::runInChild(::geteuid(), ::getegid(), [] {
            TableLock other(TableFile);
            const char state = letter(other.tryLock());
            return std::string(1, state) + " " + std::to_string(other.holderPid());
        });
        CHECK_EQ(outcome.report, "H " + std::to_string(::getpid()));

        lock.unlock();
        CHECK_EQ(letter(lock.state()), 'U');
        CHECK(!fileExists(LockFile));
        CHECK_EQ(letter(second.tryLock()), 'A');
    }
    ::umask(old);
    // Released when the object goes.
    CHECK_EQ(listWorkingDir(), std::vector<std::string>{});
}

// Another copy holds the lock while it runs. Once it has quit, or been
// killed without releasing anything, the lock is there to take.
TEST(LockOfAnotherRunningCopyIsReported)
{
    for (bool killed : {false, true}) {
        OtherCopy other(TableFile);
        CHECK_EQ(other.state(), 'A');
        TableLock lock(TableFile);
        CHECK_EQ(letter(lock.tryLock()), 'H');
        CHECK_EQ(lock.holderPid(), long{other.pid()});
        CHECK_EQ(lock.holderHost(), fileops::hostTag());
        CHECK_EQ(readFile(LockFile), holderText(other.pid()));

        if (killed)
            other.kill();
        else
            other.quit();
        CHECK_EQ(fileExists(LockFile), killed);
        CHECK_EQ(letter(lock.tryLock()), 'A');
        CHECK_EQ(readFile(LockFile), holderText(::getpid()));
        lock.unlock();
    }
}

// Lock files left behind with their record lock free: no running copy holds
// them, whatever they say. The process id may since have gone to another
// process, this test's parent or this very process, and one of another host
// holds nothing either.
TEST(LeftLockFilesAreTakenOverWhateverTheySay)
{
    const pid_t dead = storecheck::deadPid();
    const std::string texts[] = {
        holderText(dead),
        std::to_string(dead) + "\n" + fileops::hostTag() + "\n",
        "",
        "not a lock\n",
        holderText(dead, "elsewhere.example"),
        holderText(::getppid()),
        holderText(::getpid()),
        holderText(1, "elsewhere.example"),
    };
    for (const std::string& text : texts) {
        writeFile(LockFile, text);
        CHECK(::chmod(LockFile.c_str(), 0644) == 0);
        TableLock lock(TableFile);
        CHECK_EQ(letter(lock.tryLock()), 'A');
        CHECK_EQ(lock.holderPid(), 0L);
        CHECK_EQ(lock.holderHost(), std::string());
        CHECK_EQ(readFile(LockFile), holderText(::getpid()));
        CHECK_EQ(modeOf(LockFile), mode_t{0600});
    }
}

// A lock file that a running process holds, whoever wrote it, names its
// holder as far as it says, with a host fit to be shown to people; once that
// process is gone, the file is taken over.
TEST(HeldLockFileNamesItsHolder)
{
    const std::string markup = "<h1 style=\"color:red\">Table damaged: run rm -rf ~</h1>";
    struct Held
    {
        std::string text;
        long pid;
        std::string host;
    };
    const Held cases[] = {
        {holderText(4242, "elsewhere.example"), 4242, "elsewhere.example"},
        {holderText(4242, markup), 4242, markup},
        {holderText(4242, "far\tend\x1b[5m\r"), 4242, "far?end?[5m?"},
        {holderText(4242, "b\xc3\xbcro\xe2\x80\xae"
                          "evil\xff"),
         4242, "b?ro?evil?"},
        {holderText(4242, std::string(1000, 'x')), 4242, std::string(255, 'x')},
        {"4242\nlarkledger-security\nfar.example", 4242, "far.example"},
        {"", 0, ""},
        {"not a lock\n", 0, ""},
        {holderText(0, "far.example"), 0, ""},
        {"4294967296\nlarkledger-security\nfar.example\n", 0, ""},
        {"4242\nlarkledger-security\n\n", 0, ""},
    };
    for (const Held& held : cases) {
        OtherCopy other(plantedLock(LockFile, held.text));
        CHECK_EQ(other.state(), 'A');
        TableLock lock(TableFile);
        CHECK_EQ(letter(lock.tryLock()), 'H');
        CHECK_EQ(lock.holderPid(), held.pid);
        CHECK_EQ(lock.holderHost(), held.host);
        CHECK_EQ(readFile(LockFile), held.text);

        other.kill();
        CHECK_EQ(letter(lock.tryLock()), 'A');
        CHECK_EQ(readFile(LockFile), holderText(::getpid()));
    }
}

// Another user's lock file: one that may be read but not written is
// replaced once nobody holds it; one that may not even be read tells
// nothing, and is taken as held.
TEST(LockFilesOfAnotherUser)
{
    CHECK(::chmod(".", 0755) == 0);
    CHECK(::mkdir("shared", 0755) == 0);
    CHECK(::chown("shared", storecheck::ordinaryUid(), storecheck::ordinaryGid()) == 0);
    const std::string lockFile = "shared/" + LockFile;
    struct Theirs
    {
        mode_t mode;
        bool held;
        std::string seen;
    };
    const Theirs cases[] = {
        {0444, false, "A"},
        {0444, true, "H 4242 elsewhere.example"},
        {0000, false, "H 0 "},
        {0000, true, "H 0 "},
    };
    for (const Theirs& theirs : cases) {
        ::unlink(lockFile.c_str());
        const std::string text = holderText(4242, "elsewhere.example");
        std::optional<OtherCopy> other;
        if (theirs.held) {
            other.emplace(plantedLock(lockFile, text, theirs.mode));
            CHECK_EQ(other->state(), 'A');
        } else {
            writeFile(lockFile, text);
            CHECK(::chmod(lockFile.c_str(), theirs.mode) == 0);
        }
        const auto outcome = runInChild([] {
            TableLock lock("shared/" + TableFile);
            const char state = letter(lock.tryLock());
            if (state != 'H')
                return std::string(1, state);
            return std::string(1, state) + " " + std::to_string(lock.holderPid()) + " " +
                   lock.holderHost();
        });
        CHECK_EQ(outcome.report, theirs.seen);
    }
}

// Copies starting at once, on a fresh table or over a dead copy's lock:
// exactly one of them holds it.
TEST(CopiesStartingTogetherLeaveOneHolder)
{
    constexpr int Copies = 8;
    for (bool stale : {false, true}) {
        for (int round = 0; round < 40; ++round) {
            ::unlink(LockFile.c_str());
            if (stale)
                writeFile(LockFile, holderText(storecheck::deadPid()));
            int go[2];
            int results[2];
            int done[2];
            CHECK(::pipe(go) == 0 && ::pipe(results) == 0 && ::pipe(done) == 0);
            std::fflush(nullptr);
            std::vector<pid_t> children;
            for (int i = 0; i < Copies; ++i) {
                const pid_t child = ::fork();
                if (child == 0) {
                    ::close(go[1]);
                    ::close(results[0]);
                    ::close(done[1]);
                    char ignored;
                    (void)!::read(go[0], &ignored, 1);
                    TableLock lock(TableFile);
                    const char state = letter(lock.tryLock());
                    (void)!::write(results[1], &state, 1);
                    (void)!::read(done[0], &ignored, 1);
                    ::_exit(0);
                }
                children.push_back(child);
            }
            ::close(go[0]);
            ::close(results[1]);
            ::close(done[0]);
            ::close(go[1]);
            std::string states;
            char state;
            while (::read(results[0], &state, 1) == 1) {
                states += state;
                if (states.size() == Copies)
                    break;
            }
            ::close(done[1]);
            ::close(results[0]);
            for (pid_t child : children)
                reap(child);
            std::sort(states.begin(), states.end());
            CHECK_EQ(states, "A" + std::string(Copies - 1, 'H'));
        }
    }
}

TEST(LockOfALinkedTableIsBesideTheTarget)
{
    CHECK(::mkdir("real", 0700) == 0);
    CHECK(::symlink("real/table.acl", TableFile.c_str()) == 0);
    writeFile("real/table.acl", "");
    TableLock lock(TableFile);
    CHECK_EQ(letter(lock.tryLock()), 'A');
    CHECK_EQ(lock.lockFilePath(), std::string("real/.table.acl.lock"));
    CHECK(fileExists("real/.table.acl.lock"));
    CHECK(!fileExists(LockFile));
}

// Where no lock file can be made the lock says why and the program goes on.
TEST(LockThatCannotBeMadeSaysWhy)
{
    CHECK(::symlink("missing.acl", TableFile.c_str()) == 0);
    TableLock dangling(TableFile);
    CHECK_EQ(letter(dangling.tryLock()), 'F');
    CHECK_EQ(dangling.errorCode(), 2);
    CHECK(::unlink(TableFile.c_str()) == 0);

    CHECK(::chmod(".", 0755) == 0);
    CHECK(::mkdir("shared", 0755) == 0);
    CHECK(::chown("shared", storecheck::ordinaryUid(), storecheck::ordinaryGid()) == 0);
    CHECK(::chmod("shared", 0555) == 0);
    const auto outcome = runInChild([] {
        TableLock lock("shared/" + TableFile);
        const char state = letter(lock.tryLock());
        return std::string(1, state) + " " + std::to_string(lock.errorCode());
    });
    CHECK_EQ(outcome.report, std::string("F 5"));
}

// A table shared with a group: the lock file takes the table's group and
// mode, so a member who is another user sees the copy that holds it, by
// process and host, and takes over the file once that copy is gone, as its
// owner would. A private table keeps its lock private.
TEST(LockFileIsSharedAsTheTableIs)
{
    CHECK(::chmod(".", 0755) == 0);
    CHECK(::mkdir("shared", 0770) == 0);
    CHECK(::chown("shared", ::geteuid(), storecheck::ordinaryGid()) == 0);
    CHECK(::chmod("shared", 02770) == 0);
    const std::string table = "shared/" + TableFile;
    const std::string lockFile = "shared/" + LockFile;
    for (const mode_t mode : {mode_t{0660}, mode_t{0640}, mode_t{0600}}) {
        writeFile(table, "");
        CHECK(::chown(table.c_str(), ::geteuid(), storecheck::ordinaryGid()) == 0);
        CHECK(::chmod(table.c_str(), mode) == 0);
        OtherCopy other(table);
        CHECK_EQ(other.state(), 'A');
        CHECK_EQ(modeOf(lockFile), mode);
        struct stat st
        {
        };
        CHECK(::stat(lockFile.c_str(), &st) == 0);
        CHECK_EQ(st.st_gid, storecheck::ordinaryGid());
        if (mode == 0600)
            continue;
        const auto look = [&] {
            return runInChild([&] {
                TableLock lock(table);
                const char state = letter(lock.tryLock());
                return std::string(1, state) + " " + std::to_string(lock.holderPid()) + " " +
                       lock.holderHost();
            });
        };
        CHECK_EQ(look().report, "H " + std::to_string(other.pid()) + " " + fileops::hostTag());
        other.kill();
        CHECK_EQ(look().report, std::string("A 0 "));
        CHECK(!fileExists(lockFile));
    }
}
