// A session's saves and the writer lock: what others put at the lock's name
// or take from it, a file system without locks, and a table made meanwhile.

#include "../store/StoreCheck.h"

#include "session/Session.h"
#include "store/IoError.h"
#include "store/WriterLock.h"

#include <cerrno>
#include <chrono>
#include <string>

#include <unistd.h>

using storecheck::readFile;
using storecheck::TableFile;
using storecheck::testData;
using storecheck::writeFile;
using storecheck::WriterLockFile;

namespace {

std::string fixture()
{
    return testData("three-users.acl");
}

void signInAsAdmin(Session& session)
{
    session.loadTable();
    CHECK(session.signIn("admin", "secret") == Session::SignInResult::SignedIn);
    session.setWriterWait(std::chrono::milliseconds(200));
}

AccountData namedAccount(const std::string& name)
{
    AccountData account;
    account.name = name;
    return account;
}

bool hasAccount(const std::string& user, const std::string& name)
{
    Session look(TableFile);
    look.loadTable();
    for (const AccountData& account : look.Accounts(user))
        if (account.name == name)
            return true;
    return false;
}

} // namespace

// An open window keeps the lock file open between its saves. Removed
// meanwhile, and another writer holding the new one, the window's save
// waits its turn rather than going ahead on the removed file.
TEST(AWindowsSaveWaitsForTheLockAfterItsFileWasRemoved)
{
    writeFile(TableFile, fixture());
    Session window(TableFile);
    signInAsAdmin(window);
    CHECK(window.addAccount("clerk", namedAccount("First")).done());
    CHECK(::unlink(WriterLockFile.c_str()) == 0);

    Session other(TableFile);
    {
        const Session::WriterTake hold = other.holdWriterLock();
        CHECK(hold.hold);
        const ChangeResult locked = window.addAccount("clerk", namedAccount("Second"));
        CHECK(locked.outcome == ChangeResult::Outcome::Failed);
        CHECK_EQ(locked.errorCode, 32);
        CHECK(!hasAccount("clerk", "Second"));
    }
    CHECK(window.addAccount("clerk", namedAccount("Second")).done());
    CHECK(hasAccount("clerk", "Second"));
}

// A link at the lock's name fails the save, saying what to do; nothing is
// written.
TEST(ALinkAtTheLocksNameFailsTheSaveSayingWhatToDo)
{
    writeFile(TableFile, fixture());
    CHECK(::symlink(TableFile.c_str(), WriterLockFile.c_str()) == 0);
    Session window(TableFile);
    signInAsAdmin(window);
    const ChangeResult result = window.addAccount("clerk", namedAccount("Loan"));
    CHECK(result.outcome == ChangeResult::Outcome::Failed);
    CHECK_EQ(result.errorCode, 5);
    CHECK_EQ(result.message,
             std::string(".Gatekeep.acl.writer beside the table is not a plain file of its own (it "
                         "is a link, a special file or a second name of another file), so the "
                         "writer lock cannot be taken safely: nothing was written. Remove "
                         ".Gatekeep.acl.writer; the next save makes it anew."));
    CHECK_EQ(readFile(TableFile), fixture());
}

// A hold of the writer lock that cannot be had is a Failed result, as a
// save's would be: a wait in vain, or a lock file that is not safe to take.
TEST(AHoldOfTheWriterLockThatFailsSaysWhy)
{
    writeFile(TableFile, fixture());
    Session holder(TableFile);
    Session other(TableFile);
    other.setWriterWait(std::chrono::milliseconds(0));
    {
        const Session::WriterTake held = holder.holdWriterLock();
        CHECK(held.hold);
        const Session::WriterTake waited = other.holdWriterLock();
        CHECK(!waited.hold);
        CHECK(waited.failure.outcome == ChangeResult::Outcome::Failed);
        CHECK_EQ(waited.failure.errorCode, 32);
    }
    CHECK(::unlink(WriterLockFile.c_str()) == 0);
    CHECK(::symlink(TableFile.c_str(), WriterLockFile.c_str()) == 0);
    const Session::WriterTake linked = other.holdWriterLock();
    CHECK(!linked.hold);
    CHECK_EQ(linked.failure.errorCode, 5);
    CHECK_EQ(readFile(TableFile), fixture());
}

// Without locks, the first change done says that saves run unlocked; later
// ones say nothing more.
TEST(WithoutLocksTheFirstChangeSaysSo)
{
    writeFile(TableFile, fixture());
    Session window(TableFile);
    signInAsAdmin(window);
    writerlock_testing::LockHook = [](int) { return ENOLCK; };
    const ChangeResult first = window.addAccount("clerk", namedAccount("Loan"));
    const ChangeResult second = window.addAccount("clerk", namedAccount("Car"));
    writerlock_testing::LockHook = nullptr;
    CHECK(first.done() && second.done());
    CHECK_EQ(first.warning,
             std::string("The file system of Gatekeep.acl keeps no locks: saves run without the "
                         "writer lock, and only the check for changes made meanwhile guards two "
                         "saves at the same moment."));
    CHECK_EQ(second.warning, std::string());
    CHECK(!window.takeLockNotice());
    CHECK(hasAccount("clerk", "Loan") && hasAccount("clerk", "Car"));
}

// A start that found no table makes one; a table another copy made since is
// read, never emptied.
TEST(CreatingATableReadsOneMadeMeanwhile)
{
    Session fresh(TableFile);
    fresh.createTable();
    CHECK_EQ(readFile(TableFile), std::string());

    writeFile(TableFile, fixture());
    Session late(TableFile);
    late.createTable();
    CHECK_EQ(readFile(TableFile), fixture());
    CHECK(late.signIn("admin", "secret") == Session::SignInResult::SignedIn);
}
