// The writer lock, whatever others put at its name or take from it, and the
// files the store makes beside the table.

#include "StoreCheck.h"

#include "store/IoError.h"
#include "store/TableLock.h"
#include "store/WriterLock.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using storecheck::fileExists;
using storecheck::readFile;
using storecheck::runInChild;
using storecheck::TableFile;
using storecheck::testData;
using storecheck::writeFile;
using storecheck::WriterLockFile;

namespace {

using std::chrono::milliseconds;

// How a take of the lock ended: "taken", "error <code>: <text>".
std::string take(WriterLock& lock, milliseconds wait = milliseconds(0))
{
    try {
        lock.acquire(wait);
        return "taken";
    } catch (const IoError& error) {
        return "error " + std::to_string(error.code()) + ": " + error.what();
    }
}

// The same in another process, which lets go as it ends.
std::string takeElsewhere(const std::string& table)
{
    return runInChild(::geteuid(), ::getegid(),
                      [table] {
                          WriterLock lock(table);
                          return take(lock);
                      })
        .report;
}

const std::string Busy = "error 32: File locked by another writer";

const std::string NotPlain =
    "error 5: .Gatekeep.acl.writer beside the table is not a plain file of its own (it is a "
    "link, a special file or a second name of another file), so the writer lock cannot be taken "
    "safely: nothing was written. Remove .Gatekeep.acl.writer; the next save makes it anew.";

ino_t inodeOf(const std::string& path)
{
    struct stat st
    {
    };
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Fails the case instead of hanging it when a step blocks.
struct Deadline
{
    explicit Deadline(unsigned seconds) { ::alarm(seconds); }
    ~Deadline() { ::alarm(0); }
};

} // namespace

// Whatever stands at the lock's name that is not a plain file of one name
// is refused, without following it, opening it so as to wait, or writing
// anything through it; no writer then locks anything else instead.
TEST(PlantedThingsAtTheLocksNameAreRefused)
{
    struct Planted
    {
        const char* name;
        std::function<void()> plant;
    };
    const Planted cases[] = {
        {"link to a file", [] { CHECK(::symlink("elsewhere", WriterLockFile.c_str()) == 0); }},
        {"link to the table",
         [] { CHECK(::symlink(TableFile.c_str(), WriterLockFile.c_str()) == 0); }},
        {"dangling link", [] { CHECK(::symlink("missing", WriterLockFile.c_str()) == 0); }},
        {"hard link of the table",
         [] { CHECK(::link(TableFile.c_str(), WriterLockFile.c_str()) == 0); }},
        {"hard link of another file",
         [] { CHECK(::link("elsewhere", WriterLockFile.c_str()) == 0); }},
        {"FIFO", [] { CHECK(::mkfifo(WriterLockFile.c_str(), 0666) == 0); }},
        {"folder", [] { CHECK(::mkdir(WriterLockFile.c_str(), 0777) == 0); }},
    };
    for (const Planted& planted : cases) {
        std::printf("  %s\n", planted.name);
        storecheck::clearWorkingDir();
        writeFile(TableFile, testData("three-users.acl"));
        writeFile("elsewhere", "theirs");
        planted.plant();
        const Deadline deadline(10);
        WriterLock lock(TableFile);
        CHECK_EQ(take(lock), NotPlain);
        CHECK(!lock.held());
        // Nobody got in by another way meanwhile.
        CHECK_EQ(takeElsewhere(TableFile), NotPlain);
        CHECK_EQ(readFile("elsewhere"), std::string("theirs"));
        CHECK_EQ(readFile(TableFile), testData("three-users.acl"));
        CHECK(!fileExists("missing"));
        // Removed, the next take makes the lock anew.
        ::unlink(WriterLockFile.c_str());
        ::rmdir(WriterLockFile.c_str());
        CHECK_EQ(take(lock), std::string("taken"));
        CHECK_EQ(takeElsewhere(TableFile), Busy);
        lock.release();
    }
}

// A plain lock file of another user serves everyone who may open it; it is
// never written nor has its mode changed. One they may not open is refused,
// saying what to do, rather than some other file locked instead.
TEST(LockFileOfAnotherUser)
{
    CHECK(::chmod(".", 0777 | S_ISVTX) == 0);
    writeFile(TableFile, testData("three-users.acl"));
    CHECK(::chmod(TableFile.c_str(), 0666) == 0);
    const auto plant = [](mode_t mode) {
        ::unlink(WriterLockFile.c_str());
        writeFile(WriterLockFile, "");
        CHECK(::chmod(WriterLockFile.c_str(), mode) == 0);
        CHECK(::chown(WriterLockFile.c_str(), storecheck::ordinaryUid(),
                      storecheck::ordinaryGid()) == 0);
    };

    plant(0666);
    {
        WriterLock lock(TableFile);
        CHECK_EQ(take(lock), std::string("taken"));
        CHECK_EQ(takeElsewhere(TableFile), Busy);
        lock.release();
    }
    struct stat st
    {
    };
    CHECK(::lstat(WriterLockFile.c_str(), &st) == 0);
    CHECK_EQ(st.st_mode & 07777, mode_t{0666});
    CHECK_EQ(st.st_uid, storecheck::ordinaryUid());
    CHECK_EQ(st.st_size, off_t{0});

    // Theirs and private: root could open it, anyone else not.
    plant(0600);
    if (::geteuid() == 0) {
        const auto outcome = runInChild(65533, 65533, [] {
            WriterLock lock(TableFile);
            return take(lock);
        });
        CHECK_EQ(
            outcome.report,
            std::string("error 5: .Gatekeep.acl.writer beside the table may not be opened by this "
                        "user, so the writer lock cannot be taken: nothing was written. Have "
                        ".Gatekeep.acl.writer removed, or given the table's group and permissions, "
                        "so that everyone who writes the table may open it."));
    }
}

// A session keeps the lock file open from one save to the next. Removed
// meanwhile, it is nobody's lock any more: the next take locks the file at
// the name, as every other writer does.
TEST(ALockFileRemovedBetweenTakesIsTakenAnew)
{
    writeFile(TableFile, testData("three-users.acl"));
    WriterLock window(TableFile);
    CHECK_EQ(take(window), std::string("taken"));
    window.release();
    CHECK(::unlink(WriterLockFile.c_str()) == 0);

    WriterLock other(TableFile);
    CHECK_EQ(take(other), std::string("taken"));
    CHECK_EQ(take(window), Busy);
    other.release();
    CHECK_EQ(take(window), std::string("taken"));
    CHECK_EQ(takeElsewhere(TableFile), Busy);
    window.release();

    // Replaced by another plain file: the same.
    CHECK(::unlink(WriterLockFile.c_str()) == 0);
    writeFile(WriterLockFile, "");
    CHECK_EQ(take(other), std::string("taken"));
    CHECK_EQ(take(window), Busy);
    other.release();
}

// Removed while a writer holds it, the lock file is made anew by the next
// writer; the table, locked too, keeps that writer out until the save is in
// place, and it then works on the table the save left.
TEST(ALockFileRemovedDuringAHoldStillKeepsTheNextWriterOut)
{
    writeFile(TableFile, testData("three-users.acl"));
    WriterLock first(TableFile);
    CHECK_EQ(take(first), std::string("taken"));
    CHECK(::unlink(WriterLockFile.c_str()) == 0);

    WriterLock second(TableFile);
    CHECK_EQ(take(second), Busy);
    CHECK_EQ(takeElsewhere(TableFile), Busy);
    // The first writer's save replaces the table; then it lets go.
    const ino_t before = inodeOf(TableFile);
    LoadUserTable();
    StoreNewUser(storecheck::plainRecord("dora", "pw", "/d", "000000"));
    SaveUserTable();
    CHECK(inodeOf(TableFile) != before);
    first.release();
    CHECK_EQ(take(second, milliseconds(1000)), std::string("taken"));
    CHECK_EQ(takeElsewhere(TableFile), Busy);
    second.release();
}

// A folder that takes no new files from this user: without the lock file,
// nothing is locked and nothing written, and the person is told what to do;
// with it made there once, the lock works.
TEST(AFolderThatTakesNoNewFilesNeedsTheLockMadeOnce)
{
    CHECK(::chmod(".", 0755) == 0);
    CHECK(::mkdir("shared", 0755) == 0);
    writeFile("shared/" + TableFile, testData("three-users.acl"));
    CHECK(::chmod(("shared/" + TableFile).c_str(), 0666) == 0);
    CHECK(::chmod("shared", 0755) == 0);
    const auto takeAsOrdinaryUser = [] {
        return runInChild([] {
                   WriterLock lock("shared/" + TableFile);
                   return take(lock);
               })
            .report;
    };
    if (::geteuid() == 0) {
        CHECK_EQ(takeAsOrdinaryUser(),
                 std::string("error 5: The table's folder takes no new files from this user, so "
                             "the writer lock .Gatekeep.acl.writer cannot be made: nothing was "
                             "written. Let the table's writers create files in the folder, or "
                             "have .Gatekeep.acl.writer made there once, as an empty file with "
                             "the table's owner, group and permissions."));
        CHECK(!fileExists("shared/" + WriterLockFile));
    }
    writeFile("shared/" + WriterLockFile, "");
    CHECK(::chmod(("shared/" + WriterLockFile).c_str(), 0666) == 0);
    WriterLock mine("shared/" + TableFile);
    CHECK_EQ(take(mine), std::string("taken"));
    CHECK_EQ(takeAsOrdinaryUser(), Busy);
    mine.release();
    CHECK_EQ(takeAsOrdinaryUser(), std::string("taken"));
}

// Where the file system keeps no locks, saves go on, and the person is told
// once.
TEST(WithoutLocksTheTakeSaysSoOnce)
{
    writeFile(TableFile, testData("three-users.acl"));
    writerlock_testing::LockHook = [](int) { return ENOLCK; };
    WriterLock lock(TableFile);
    CHECK_EQ(take(lock), std::string("taken"));
    lock.release();
    CHECK(take(lock) == "taken");
    lock.release();
    writerlock_testing::LockHook = nullptr;
    const std::optional<std::string> notice = lock.takeNotice();
    CHECK(notice.has_value());
    CHECK_EQ(notice.value_or(""),
             std::string("The file system of Gatekeep.acl keeps no locks: saves run without the "
                         "writer lock, and only the check for changes made meanwhile guards two "
                         "saves at the same moment."));
    CHECK(!lock.takeNotice());
    CHECK_EQ(take(lock), std::string("taken"));
    lock.release();
    CHECK(!lock.takeNotice());
}

// A lock file of a running copy left by another user, or one with a second
// name, is never written: a new one of our own takes its place.
TEST(ALeftTableLockOfAnotherUserIsReplacedNotWritten)
{
    const std::string lockFile = ".Gatekeep.acl.lock";
    struct Left
    {
        const char* name;
        bool theirs;
        bool linked;
    };
    const Left cases[] = {{"another user's", true, false}, {"with a second name", false, true}};
    for (const Left& left : cases) {
        std::printf("  %s\n", left.name);
        storecheck::clearWorkingDir();
        writeFile(lockFile, "4242\nlarkledger-security\nelsewhere\n");
        CHECK(::chmod(lockFile.c_str(), 0666) == 0);
        if (left.theirs)
            CHECK(::chown(lockFile.c_str(), storecheck::ordinaryUid(), storecheck::ordinaryGid()) ==
                  0);
        if (left.linked)
            CHECK(::link(lockFile.c_str(), "second") == 0);
        const int old = ::open(lockFile.c_str(), O_RDONLY);
        CHECK(old >= 0);
        TableLock lock(TableFile);
        CHECK(lock.tryLock() == TableLock::State::Acquired);
        char kept[64] = {};
        CHECK(::pread(old, kept, sizeof kept - 1, 0) > 0);
        CHECK_EQ(std::string(kept), std::string("4242\nlarkledger-security\nelsewhere\n"));
        struct stat st
        {
        };
        CHECK(::fstat(old, &st) == 0);
        CHECK_EQ(st.st_mode & 07777, mode_t{0666});
        ::close(old);
        CHECK(::lstat(lockFile.c_str(), &st) == 0);
        CHECK_EQ(st.st_uid, ::geteuid());
        CHECK_EQ(st.st_mode & 07777, mode_t{0600});
    }
}

// A FIFO or a link at the running copy's lock is never opened so as to wait,
// nor followed.
TEST(ATableLockThatIsNoPlainFileIsNotOpened)
{
    const std::string lockFile = ".Gatekeep.acl.lock";
    CHECK(::mkfifo(lockFile.c_str(), 0666) == 0);
    {
        const Deadline deadline(10);
        TableLock lock(TableFile);
        CHECK(lock.tryLock() == TableLock::State::Failed);
    }
    CHECK(::unlink(lockFile.c_str()) == 0);
    CHECK(::symlink("made-through-link", lockFile.c_str()) == 0);
    TableLock lock(TableFile);
    CHECK(lock.tryLock() != TableLock::State::Acquired);
    CHECK(!fileExists("made-through-link"));
}

// A table is made only where none is: one found there, perhaps made by
// another copy since the caller looked, is left as it is.
TEST(CreatingATableNeverEmptiesOne)
{
    writeFile(TableFile, testData("three-users.acl"));
    CHECK(!CreateUserTableFile(TableFile));
    CHECK_EQ(readFile(TableFile), testData("three-users.acl"));
    CHECK(::mkdir("real", 0700) == 0);
    writeFile("real/table.acl", testData("three-users.acl"));
    CHECK(::symlink("real/table.acl", "linked.acl") == 0);
    CHECK(!CreateUserTableFile("linked.acl"));
    CHECK_EQ(readFile("real/table.acl"), testData("three-users.acl"));

    CHECK(CreateUserTableFile("new.acl"));
    CHECK_EQ(readFile("new.acl"), std::string());
    struct stat st
    {
    };
    CHECK(::lstat("new.acl", &st) == 0);
    CHECK_EQ(st.st_mode & 07777, mode_t{0600});
}
