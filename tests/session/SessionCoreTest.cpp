#include "../store/StoreCheck.h"
#include "Team.h"

#include "session/Session.h"
#include "session/TableCheck.h"
#include "session/internal/Records.h"
#include "session/internal/SessionAccess.h"
#include "store/FileOps.h"
#include "store/IoError.h"
#include "store/Scramble.h"
#include "store/WriterLock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using storecheck::readFile;
using storecheck::TableFile;
using storecheck::testData;
using storecheck::writeFile;
using team::account;
using team::plain;

namespace {

void writeTeam(const Rights& myRights)
{
    team::writeTeam(myRights, TableFile);
}

std::vector<std::string> names(const Session& session)
{
    return session.listedNames();
}

struct Change
{
    const char* name;
    // The combinations of the user rights that may make it.
    std::vector<Rights> allowedFor;
    ChangeResult (*make)(Session&);
    // What the table holds once it is made.
    bool (*made)(const Session&);
};

const std::vector<Change>& changes()
{
    static const std::vector<Change> changes = {
        {"add user",
         {Rights{R::AddUsers}, Rights{R::AddUsers, R::ModifyUsers},
          Rights{R::AddUsers, R::DeleteUsers}, Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) { return s.addUser(plain("new", "npw", "/n")); },
         [](const Session& s) { return SessionAccess::table(s).FindUser("new") == 4; }},
        {"add user with a right",
         {Rights{R::AddUsers, R::ModifyUsers}, Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) { return s.addUser(plain("new", "npw", "/n", Rights{R::DeleteRecord})); },
         [](const Session& s) { return SessionAccess::table(s).FindUser("new") == 4; }},
        {"delete user",
         {Rights{R::DeleteUsers}, Rights{R::AddUsers, R::DeleteUsers},
          Rights{R::ModifyUsers, R::DeleteUsers},
          Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) { return s.deleteUser("weak"); },
         [](const Session& s) { return SessionAccess::table(s).FindUser("weak") == 0; }},
        {"save changes: new password",
         {Rights{R::ModifyUsers}, Rights{R::AddUsers, R::ModifyUsers},
          Rights{R::ModifyUsers, R::DeleteUsers},
          Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) {
             return s.saveChanges(s.loadForEditing("weak"), plain("weak", "newpw", "/w"));
         },
         [](const Session& s) {
             return decoded(SessionAccess::table(s).slot(3).Password) == "newpw" &&
                    decoded(SessionAccess::table(s).slot(3).Accounts[0].AccountName) == "Cash";
         }},
        {"save changes: a right granted",
         {Rights{R::AddUsers, R::ModifyUsers}, Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) {
             return s.saveChanges(s.loadForEditing("weak"),
                                  plain("weak", "newpw", "/w", Rights{R::AddUsers}));
         },
         [](const Session& s) {
             return storecheck::decodedRights(SessionAccess::table(s).slot(3)) == "111110";
         }},
        {"save changes: take over a stronger user",
         {Rights{R::AddUsers, R::ModifyUsers}, Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) {
             return s.saveChanges(s.loadForEditing("boss"),
                                  plain("boss", "mine", "/b", Rights::all()));
         },
         [](const Session& s) {
             return decoded(SessionAccess::table(s).slot(3).Password) == "mine";
         }},
        {"new account",
         {Rights{R::ModifyUsers, R::DeleteUsers},
          Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) { return s.addAccount("weak", account("Loan", "")); },
         [](const Session& s) {
             return decoded(SessionAccess::table(s).slot(3).Accounts[1].AccountName) == "Loan";
         }},
        {"modify account",
         {Rights{R::ModifyUsers, R::DeleteUsers},
          Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) { return s.modifyAccount("weak", team::accountAt(0, "Cash", "Safe")); },
         [](const Session& s) {
             return decoded(SessionAccess::table(s).slot(3).Accounts[0].AccountDescription) ==
                    "Safe";
         }},
        {"delete account",
         {Rights{R::ModifyUsers, R::DeleteUsers},
          Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) { return s.deleteAccount("weak", 0); },
         [](const Session& s) {
             return SessionAccess::table(s).slot(3).Accounts[0].AccountName.empty();
         }},
        // Every user at once, whoever they are: as much as adding, changing
        // and deleting all of them.
        {"restore a backup",
         {Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) {
             UserTable backup = SessionAccess::table(s);
             backup.StoreNewUser(storecheck::plainRecord("back", "bpw", "/k", "111111"));
             return s.restore(backup.bytes(), "old.acl");
         },
         [](const Session& s) { return SessionAccess::table(s).FindUser("back") == 4; }},
    };
    return changes;
}

} // namespace

TEST(EveryChangeIsMadeOnlyWithItsRights)
{
    for (const auto& [label, rights] : team::userRightCombinations()) {
        for (const Change& change : changes()) {
            writeTeam(rights);
            const std::string fileBefore = readFile(TableFile);
            Session session(TableFile);
            session.loadTable();
            CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
            const std::string tableBefore = SessionAccess::table(session).bytes();

            const ChangeResult result = change.make(session);
            const bool allowed = std::find(change.allowedFor.begin(), change.allowedFor.end(),
                                           rights) != change.allowedFor.end();
            const std::string row = std::string(change.name) + " as [" + label + "]";
            if (allowed) {
                if (!result.done() || !change.made(session))
                    storecheck::fail(__FILE__, __LINE__, row + ": refused: " + result.message);
            } else {
                if (result.outcome != ChangeResult::Outcome::Refused ||
                    result.reason != ChangeResult::Reason::MissingRight ||
                    SessionAccess::table(session).bytes() != tableBefore ||
                    readFile(TableFile) != fileBefore || session.TableChanged())
                    storecheck::fail(__FILE__, __LINE__, row + ": not refused cleanly");
            }
        }
    }
}

TEST(RefusalsGiveTheirReasonsAndChangeNothing)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    Session session(TableFile);
    session.loadTable();
    session.signIn("me", "pw");
    const std::string before = SessionAccess::table(session).bytes();
    struct Row
    {
        ChangeResult result;
        ChangeResult::Reason reason;
        std::string message;
    };
    const Row rows[] = {
        {session.addUser(plain(" WEAK ", "x", "/x")), ChangeResult::Reason::DuplicateUser,
         "User already exist."},
        {session.addUser(plain("x", " ", "/x")), ChangeResult::Reason::EmptyField,
         "Please fill all sections."},
        {session.saveChanges(session.loadForEditing(""), plain("weak", "pw2", "/w")),
         ChangeResult::Reason::NothingLoaded,
         "No user has been loaded for editing: select a user and press Modify first."},
        {session.saveChanges(session.loadForEditing("gone"), plain("gone", "pw2", "/w")),
         ChangeResult::Reason::NoSuchUser,
         "The user being edited no longer exists: load it again with Modify."},
        {session.addAccount("weak", account("cASH", "")), ChangeResult::Reason::DuplicateAccount,
         "The cASH is assigned, please Create another one."},
        {session.modifyAccount("weak", team::accountAt(4, "x", "")),
         ChangeResult::Reason::NoSuchAccount, "There is no such bank account."},
        // A free slot's name reads as the empty text: it is nobody's.
        {session.addAccount("", account("x", "")), ChangeResult::Reason::NoSuchUser,
         "There is no user of that name."},
        {session.deleteUser(""), ChangeResult::Reason::NoSuchUser,
         "There is no user of that name."},
    };
    for (const Row& row : rows) {
        if (row.result.message != row.message)
            storecheck::fail(__FILE__, __LINE__,
                             "expected " + row.message + ", got: " + row.result.message);
        CHECK(row.result.outcome == ChangeResult::Outcome::Refused);
        CHECK(row.result.reason == row.reason);
        CHECK_EQ(row.result.message, row.message);
    }
    CHECK(SessionAccess::table(session).bytes() == before);
}

TEST(ATableOfFiveTakesNoSixthUser)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    Session session(TableFile);
    session.loadTable();
    session.signIn("me", "pw");
    CHECK(session.addUser(plain("u4", "p", "/4")).done());
    CHECK(session.addUser(plain("u5", "p", "/5")).done());
    const ChangeResult sixth = session.addUser(plain("u6", "p", "/6"));
    CHECK(sixth.reason == ChangeResult::Reason::TableFull);
    CHECK_EQ(names(session).size(), std::size_t(5));
}

TEST(SignInFindsBlankPaddedNamesAndComparesPasswordsExactly)
{
    writeFile(TableFile, testData("three-users.acl"));
    Session session(TableFile);
    session.loadTable();
    CHECK(session.signIn("renée", "café€") == Session::SignInResult::UnknownName);
    CHECK(session.signIn("  ", "x") == Session::SignInResult::UnknownName);
    CHECK(session.signIn("Ren\xc3\xa9"
                         "e",
                         "caf\xc3\xa9\xe2\x82\xac ") == Session::SignInResult::WrongPassword);
    CHECK(session.signIn("Ren\xc3\xa9"
                         "e",
                         "") == Session::SignInResult::EmptyPassword);
    CHECK(!session.signedIn());
    CHECK(session.signIn(" Ren\xc3\xa9"
                         "e\t",
                         "caf\xc3\xa9\xe2\x82\xac") == Session::SignInResult::SignedIn);
    CHECK_EQ(session.me().loginName, std::string(" Ren\xc3\xa9"
                                                 "e "));
    CHECK(session.mayDelete() && !session.mayModify() && !session.mayAdd());
}

TEST(SaveChangesKeepsAccountsAndClearsPendingChanges)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    Session session(TableFile);
    session.loadTable();
    session.signIn("me", "pw");
    CHECK(session.deleteUser("boss").done());
    CHECK(session.TableChanged());
    // weak moved from slot 3 to 2: found again by name.
    CHECK(session.saveChanges(session.loadForEditing("weak"), plain("weak2", "pw2", "/w2")).done());
    CHECK(!session.TableChanged());
    CHECK(names(session) == std::vector<std::string>({"me", "weak2"}));
    CHECK_EQ(decoded(SessionAccess::table(session).slot(2).Accounts[0].AccountName),
             std::string("Cash"));
    CHECK_EQ(readFile(TableFile), SessionAccess::table(session).bytes());
}

namespace {

struct SignedIn
{
    explicit SignedIn(const char* name, const char* password) : session(TableFile)
    {
        session.loadTable();
        CHECK(session.signIn(name, password) == Session::SignInResult::SignedIn);
    }
    Session session;
};

UserTable onDisk()
{
    UserTable table;
    LoadUserTable(table, TableFile);
    return table;
}

AnsiString entryName(const UserTable& table, const char* user, int entry)
{
    const int slot = table.FindUser(user);
    return slot == 0
               ? "(no user)"
               : decoded(table.slot(slot).Accounts[static_cast<std::size_t>(entry)].AccountName);
}

const std::string BroughtUpToDate = "Gatekeep.acl had been changed by someone else meanwhile: it "
                                    "was brought up to date first, and the change was made on it.";

} // namespace

TEST(AChangeOfOtherUsersOrAccountsLandsOnTheFilesTable)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    int asked = 0;
    mine.session.setConflictHandler([&](const Conflict&) {
        ++asked;
        return ConflictChoice::Cancel;
    });

    CHECK(theirs.session.addAccount("weak", account("Theirs", "")).done());
    CHECK(theirs.session.addUser(plain("bob", "bobpw", "/bob")).done());
    CHECK(theirs.session.save().done());
    CHECK(mine.session.addUser(plain("new", "npw", "/n")).done());
    const ChangeResult merged = mine.session.addAccount("weak", account("Mine", ""));
    CHECK(merged.done());
    CHECK(merged.refreshed);
    CHECK_EQ(merged.warning, BroughtUpToDate);
    CHECK_EQ(asked, 0);
    const UserTable file = onDisk();
    CHECK_EQ(entryName(file, "weak", 1), std::string("Theirs"));
    CHECK_EQ(entryName(file, "weak", 2), std::string("Mine"));
    CHECK_EQ(file.FindUser("bob"), 4);
    CHECK_EQ(file.FindUser("new"), 5);
    CHECK_EQ(SessionAccess::table(mine.session).bytes(), readFile(TableFile));

    // Someone else's save of the same table only brings it up to date.
    CHECK(theirs.session.modifyAccount("weak", team::accountAt(1, "Theirs", "kept")).done());
    CHECK_EQ(decoded(onDisk().slot(3).Accounts[2].AccountName), std::string("Mine"));
}

TEST(TheSameAccountChangedOnBothSidesIsAskedAbout)
{
    struct Row
    {
        ConflictChoice choice;
        ChangeResult::Outcome outcome;
        const char* descriptionAfter;
    };
    const Row rows[] = {
        {ConflictChoice::Cancel, ChangeResult::Outcome::Cancelled, "theirs"},
        {ConflictChoice::Reload, ChangeResult::Outcome::Reloaded, "theirs"},
        {ConflictChoice::Overwrite, ChangeResult::Outcome::Done, "mine"},
    };
    for (const Row& row : rows) {
        writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
        SignedIn mine("me", "pw");
        SignedIn theirs("boss", "bosspw");
        CHECK(theirs.session.modifyAccount("weak", team::accountAt(0, "Cash", "theirs")).done());
        // Another user's change on the way is no question.
        CHECK(theirs.session
                  .saveChanges(theirs.session.loadForEditing("boss"),
                               plain("boss", "bosspw2", "/b", Rights::all()))
                  .done());
        std::vector<Conflict> asked;
        mine.session.setConflictHandler([&](const Conflict& conflict) {
            asked.push_back(conflict);
            return row.choice;
        });
        const std::string before = readFile(TableFile);
        const ChangeResult result =
            mine.session.modifyAccount("weak", team::accountAt(0, "Cash", "mine"));
        CHECK(result.outcome == row.outcome);
        CHECK_EQ(asked.size(), std::size_t(1));
        CHECK_EQ(asked.at(0).user, std::string("weak"));
        CHECK_EQ(asked.at(0).account, std::string("Cash"));
        const UserTable file = onDisk();
        CHECK_EQ(decoded(file.slot(file.FindUser("weak")).Accounts[0].AccountDescription),
                 std::string(row.descriptionAfter));
        CHECK_EQ(decoded(file.slot(file.FindUser("boss")).Password), std::string("bosspw2"));
        if (row.choice != ConflictChoice::Overwrite)
            CHECK_EQ(readFile(TableFile), before);
        if (row.choice == ConflictChoice::Reload)
            CHECK_EQ(SessionAccess::table(mine.session).bytes(), before);
    }
}

// Someone thinking over the question keeps no one else from saving; the
// change is then made again on the file as it is by then, and asked about
// again there.
TEST(TheQuestionIsAskedWithTheWriterLockLetGo)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    theirs.session.setWriterWait(std::chrono::milliseconds(0));
    CHECK(theirs.session.modifyAccount("weak", team::accountAt(0, "Cash", "theirs")).done());
    int asked = 0;
    mine.session.setConflictHandler([&](const Conflict&) {
        if (++asked == 1)
            CHECK(theirs.session.addAccount("boss", account("During", "")).done());
        return ConflictChoice::Overwrite;
    });
    CHECK(mine.session.modifyAccount("weak", team::accountAt(0, "Cash", "mine")).done());
    CHECK_EQ(asked, 2);
    const UserTable file = onDisk();
    CHECK_EQ(decoded(file.slot(file.FindUser("weak")).Accounts[0].AccountDescription),
             std::string("mine"));
    CHECK_EQ(entryName(file, "boss", 0), std::string("During"));
}

namespace {

std::string localMinute(std::time_t when)
{
    std::tm local{};
    char shown[32] = {};
    ::localtime_r(&when, &local);
    std::strftime(shown, sizeof shown, "%Y-%m-%d %H:%M", &local);
    return shown;
}

} // namespace

// The question names who saved the file last, and when, as the writer lock
// file records it for the table as it is; a lock file that holds no such
// record (none, a cut or garbled one, one of another table, one that names
// no operating-system account) leaves the question as it always was.
TEST(TheQuestionNamesWhoSavedTheFileLast)
{
    const std::string host = fileops::hostTag();
    const SystemUser ann{"ann", 1001};
    const auto plant = [](std::string bytes) {
        return [bytes] { writeFile(storecheck::WriterLockFile, bytes); };
    };
    struct Row
    {
        const char* label;
        SystemUser theirs;
        // Done to the lock file after their save; nothing: as it left it.
        std::function<void()> tamper;
        std::string savedBy; // empty: no line
    };
    const Row rows[] = {
        {"their record", ann, {}, "ann (uid 1001, signed in as boss) on " + host},
        {"a name alone, its escape made visible",
         {"ann\x1b[2J", std::nullopt},
         {},
         "ann\\x1b[2J (signed in as boss) on " + host},
        {"a uid alone", {"", 1001}, {}, "uid 1001 (signed in as boss) on " + host},
        {"no operating-system account", {}, {}, ""},
        {"an empty lock file", ann, plant(""), ""},
        {"garbage", ann, plant("\x1b[2Jann\nuid 0\n"), ""},
        {"a record cut short", ann,
         [] {
             const std::string whole = readFile(storecheck::WriterLockFile);
             writeFile(storecheck::WriterLockFile, whole.substr(0, whole.size() - 4));
         },
         ""},
        {"a record of another table", ann,
         [] {
             std::optional<WriterRecord> record =
                 parseWriterRecord(readFile(storecheck::WriterLockFile));
             CHECK(record);
             record->table = writerRecordDigest("another table");
             writeFile(storecheck::WriterLockFile, formatWriterRecord(*record));
         },
         ""},
    };
    for (const Row& row : rows) {
        writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
        SignedIn mine("me", "pw");
        SignedIn theirs("boss", "bosspw");
        theirs.session.setSystemUser(row.theirs);
        const std::time_t before = std::time(nullptr);
        CHECK(
            theirs.session
                .saveChanges(theirs.session.loadForEditing("weak"), plain("weak", "weakpw2", "/w"))
                .done());
        const std::time_t after = std::time(nullptr);
        if (row.tamper)
            row.tamper();
        std::vector<Conflict> asked;
        mine.session.setConflictHandler([&](const Conflict& conflict) {
            asked.push_back(conflict);
            return ConflictChoice::Cancel;
        });
        const ChangeResult result = mine.session.saveChanges(mine.session.loadForEditing("weak"),
                                                             plain("weak", "weakpw", "/w2"));
        CHECK(result.outcome == ChangeResult::Outcome::Cancelled);
        if (asked.size() != 1) {
            storecheck::fail(__FILE__, __LINE__, std::string(row.label) + ": not asked once");
            continue;
        }
        const Conflict& conflict = asked.front();
        std::string line;
        if (!row.savedBy.empty()) {
            const bool plausible =
                conflict.savedAt == localMinute(before) || conflict.savedAt == localMinute(after);
            if (!plausible)
                storecheck::fail(__FILE__, __LINE__,
                                 std::string(row.label) + ": saved at " + conflict.savedAt);
            line = "Last saved by " + row.savedBy + " at " + conflict.savedAt + ".\n";
        }
        if (conflict.savedBy != row.savedBy || (row.savedBy.empty() && !conflict.savedAt.empty()))
            storecheck::fail(__FILE__, __LINE__,
                             std::string(row.label) + ": saved by \"" + conflict.savedBy +
                                 "\" at \"" + conflict.savedAt + "\"");
        CHECK_EQ(conflictQuestion(conflict),
                 "Someone else has changed the user weak in Gatekeep.acl since this program last "
                 "read it.\nTheir change: password.\n" +
                     line +
                     "\nYes: keep their version; this change is dropped.\nNo: write this change "
                     "over theirs, for the user weak only.\nCancel: write nothing.");
    }
}

// A save that finds the lock taken tells whoever follows the wait, as long
// as it waits, and ends as they answer: with the lock once it is let go, or
// with nothing written once they stop waiting or the wait runs out.
TEST(AWaitForAnotherWriterIsFollowedToItsEnd)
{
    struct Row
    {
        const char* name;
        int letGoAfter; // asked this often, the other writer lets go
        int stopAfter;  // asked this often, the follower answers no
        std::chrono::milliseconds wait;
        const char* failure; // empty: saved
    };
    const Row rows[] = {
        {"let go while waiting", 3, -1, std::chrono::seconds(10), ""},
        {"stopped", -1, 3, std::chrono::seconds(10),
         "Nothing was saved: you stopped waiting for another copy to finish writing "
         "Gatekeep.acl."},
        {"ran out", -1, -1, std::chrono::milliseconds(200),
         "Nothing was saved: another copy was still writing Gatekeep.acl after 200 "
         "milliseconds. Try again once it has finished."},
    };
    for (const Row& row : rows) {
        writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
        SignedIn mine("me", "pw");
        Session other(TableFile);
        std::optional<Session::WriterHold> held(other.holdWriterLock().hold);
        CHECK(held);
        std::vector<Session::WriterWait> heard;
        mine.session.setWriterWait(row.wait, [&](Session::WriterWait step) {
            heard.push_back(step);
            const int asked = int(heard.size());
            if (asked == row.letGoAfter)
                held.reset();
            return asked != row.stopAfter;
        });
        const std::string before = readFile(TableFile);
        const ChangeResult result = mine.session.addAccount("weak", account("Waited", ""));

        CHECK(heard.size() >= 2);
        CHECK(heard.front() == Session::WriterWait::Begins);
        CHECK(heard.back() == Session::WriterWait::Ends);
        CHECK_EQ(std::count(heard.begin(), heard.end(), Session::WriterWait::Goes),
                 std::ptrdiff_t(heard.size() - 2));
        if (*row.failure == 0) {
            CHECK(result.done());
            CHECK_EQ(entryName(onDisk(), "weak", 1), std::string("Waited"));
            continue;
        }
        CHECK(result.outcome == ChangeResult::Outcome::Failed);
        CHECK_EQ(result.errorCode, 32);
        CHECK_EQ(result.message, std::string(row.failure));
        CHECK_EQ(readFile(TableFile), before);
        // Tried again with the lock let go, the same change lands.
        held.reset();
        CHECK(mine.session.addAccount("weak", account("Waited", "")).done());
        CHECK_EQ(entryName(onDisk(), "weak", 1), std::string("Waited"));
    }
}

TEST(AWaitingDeletionOfAUserChangedMeanwhileIsAskedAboutAtTheSave)
{
    for (const ConflictChoice choice : {ConflictChoice::Reload, ConflictChoice::Overwrite}) {
        writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
        SignedIn mine("me", "pw");
        SignedIn theirs("boss", "bosspw");
        CHECK(mine.session.deleteUser("weak").done());
        CHECK(theirs.session
                  .saveChanges(theirs.session.loadForEditing("weak"), plain("weak", "newpw", "/w"))
                  .done());
        std::vector<Conflict> asked;
        mine.session.setConflictHandler([&](const Conflict& conflict) {
            asked.push_back(conflict);
            return choice;
        });
        CHECK(mine.session.save().done());
        CHECK_EQ(asked.size(), std::size_t(1));
        CHECK_EQ(asked.at(0).user, std::string("weak"));
        CHECK_EQ(onDisk().FindUser("weak") != 0, choice == ConflictChoice::Reload);
    }

    // A user someone else deleted cannot be changed; nothing is written.
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    CHECK(theirs.session.deleteUser("weak").done());
    CHECK(theirs.session.save().done());
    const std::string theirFile = readFile(TableFile);
    const ChangeResult gone =
        mine.session.saveChanges(mine.session.loadForEditing("weak"), plain("weak", "x", "/w"));
    CHECK(gone.reason == ChangeResult::Reason::NoSuchUser);
    CHECK_EQ(readFile(TableFile), theirFile);
}

TEST(RightsAreThoseTheFileHoldsAtEachChange)
{
    // Revoked: refused at once, and no save brings the rights back.
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    CHECK(mine.session.addUser(plain("new", "npw", "/n")).done());
    CHECK(theirs.session
              .saveChanges(theirs.session.loadForEditing("me"), plain("me", "pw", "/m", Rights{}))
              .done());
    mine.session.setConflictHandler([](const Conflict&) { return ConflictChoice::Overwrite; });
    const std::string revoked = readFile(TableFile);
    const ChangeResult account = mine.session.addAccount("weak", ::account("Mine", ""));
    CHECK(account.reason == ChangeResult::Reason::MissingRight);
    CHECK(!mine.session.mayKeepAccounts());
    CHECK(!mine.session.mayAdd());
    CHECK(mine.session.deleteUser("weak").reason == ChangeResult::Reason::MissingRight);
    const ChangeResult saved = mine.session.save();
    CHECK(saved.done());
    CHECK_EQ(saved.warning, BroughtUpToDate +
                                "\nNot saved, adding the user new: You may not add users: that "
                                "needs the AddUsers right.");
    CHECK_EQ(readFile(TableFile), revoked);

    // Nobody is asked about a change the file's rights no longer allow.
    CHECK(theirs.session.modifyAccount("weak", team::accountAt(0, "Cash", "theirs")).done());
    int asked = 0;
    mine.session.setConflictHandler([&](const Conflict&) {
        ++asked;
        return ConflictChoice::Overwrite;
    });
    CHECK(mine.session.modifyAccount("weak", team::accountAt(0, "Cash", "mine")).reason ==
          ChangeResult::Reason::MissingRight);
    CHECK_EQ(asked, 0);

    // Given back: usable again without signing in anew.
    CHECK(theirs.session
              .saveChanges(theirs.session.loadForEditing("me"),
                           plain("me", "pw", "/m", Rights{R::ModifyUsers, R::DeleteUsers}))
              .done());
    CHECK(mine.session.addAccount("weak", ::account("Mine", "")).done());
    CHECK(mine.session.mayKeepAccounts());

    // Renamed, deleted, given another password, or deleted and added anew
    // under the same name by someone else: signed out for good, whatever
    // rights the record of that name holds now.
    struct Gone
    {
        const char* what;
        void (*change)(Session& boss);
    };
    const Gone gone[] = {
        {"renamed",
         [](Session& boss) {
             CHECK(boss.saveChanges(boss.loadForEditing("me"),
                                    plain("you", "pw", "/m", Rights::all()))
                       .done());
         }},
        {"deleted",
         [](Session& boss) { CHECK(boss.deleteUser("me").done() && boss.save().done()); }},
        {"given another password",
         [](Session& boss) {
             CHECK(boss.saveChanges(boss.loadForEditing("me"),
                                    plain("me", "newpw", "/m", Rights{R::ModifyUsers}))
                       .done());
         }},
        {"deleted and added anew for someone else",
         [](Session& boss) {
             CHECK(boss.deleteUser("me").done());
             CHECK(boss.addUser(plain("me", "newpw", "/new", Rights::all())).done());
             CHECK(boss.save().done());
         }},
    };
    for (const Gone& row : gone) {
        writeTeam(Rights{R::ModifyUsers});
        SignedIn me("me", "pw");
        SignedIn boss("boss", "bosspw");
        row.change(boss.session);
        const std::string file = readFile(TableFile);
        const ChangeResult result =
            me.session.saveChanges(me.session.loadForEditing("weak"), plain("weak", "x", "/w"));
        if (result.reason != ChangeResult::Reason::SignedOut)
            storecheck::fail(__FILE__, __LINE__, std::string(row.what) + ": " + result.message);
        CHECK_EQ(result.message,
                 std::string("Your login ID me is no longer in Gatekeep.acl as you signed in "
                             "(someone else deleted it, renamed it or gave it another password): "
                             "you are signed out, and nothing more can be changed until you sign "
                             "in again."));
        CHECK(me.session.signedOut());
        CHECK(!me.session.mayAdd() && !me.session.mayModify() && !me.session.mayDelete());
        CHECK(me.session.addUser(plain("x", "x", "/x")).reason == ChangeResult::Reason::SignedOut);
        CHECK(me.session.save().reason == ChangeResult::Reason::SignedOut);
        CHECK_EQ(readFile(TableFile), file);
    }

    // Renaming oneself, or giving oneself another password, is no signing
    // out.
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn self("me", "pw");
    CHECK(self.session
              .saveChanges(
                  self.session.loadForEditing("me"),
                  plain("myself", "pw", "/m", Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}))
              .done());
    CHECK(self.session.addAccount("weak", ::account("Mine", "")).done());
    CHECK(self.session
              .saveChanges(
                  self.session.loadForEditing("myself"),
                  plain("myself", "pw2", "/m", Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}))
              .done());
    CHECK(self.session.addAccount("weak", ::account("More", "")).done());
    CHECK_EQ(self.session.me().password, std::string("pw2"));
    CHECK(!self.session.signedOut());
}

// Deleting one's own login ID says at once what follows; once saved, the
// session is signed out and says it was the person's own change.
TEST(DeletingOnesOwnLoginIdSaysWhatFollows)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn me("me", "pw");
    const ChangeResult deleted = me.session.deleteUser("me");
    CHECK(deleted.done());
    CHECK_EQ(
        deleted.warning,
        std::string("You have deleted your own login ID me. Once the table is saved (on leaving, "
                    "or with the next change written at once), you are signed out: nothing more "
                    "can be changed until you sign in as another user."));
    CHECK(!me.session.signedOut());
    CHECK(me.session.deleteUser("weak").done());
    CHECK(me.session.addAccount("boss", account("Last", "")).done());
    CHECK(me.session.signedOut());
    CHECK_EQ(me.session.signedOutMessage(),
             std::string("Your login ID me has been deleted by your own change, now saved: you "
                         "are signed out, and nothing more can be changed until you sign in as "
                         "another user."));
    const UserTable file = onDisk();
    CHECK_EQ(file.FindUser("me"), 0);
    CHECK_EQ(file.FindUser("weak"), 0);
    CHECK_EQ(entryName(file, "boss", 0), std::string("Last"));
    CHECK(me.session.addAccount("boss", account("More", "")).reason ==
          ChangeResult::Reason::SignedOut);
}

// An account a change names is the one at that entry under that name: an
// entry that now holds another account means the named one is gone, and
// the other is left alone whatever the person would have answered.
TEST(AnAccountGoneFromItsEntryIsNotChangedInItsPlace)
{
    struct Row
    {
        const char* what;
        bool another; // someone else's new account lands in the entry
        ChangeResult (*change)(Session&);
    };
    const Row rows[] = {
        {"delete, another in its place", true,
         [](Session& s) { return s.deleteAccount("weak", 0); }},
        {"modify, another in its place", true,
         [](Session& s) { return s.modifyAccount("weak", team::accountAt(0, "Cash", "mine")); }},
        {"delete, entry empty", false, [](Session& s) { return s.deleteAccount("weak", 0); }},
        {"modify, entry empty", false,
         [](Session& s) { return s.modifyAccount("weak", team::accountAt(0, "Cash", "mine")); }},
    };
    for (const Row& row : rows) {
        writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
        SignedIn mine("me", "pw");
        SignedIn theirs("boss", "bosspw");
        CHECK(theirs.session.deleteAccount("weak", 0).done());
        if (row.another)
            CHECK(theirs.session.addAccount("weak", account("New", "theirs")).done());
        int asked = 0;
        mine.session.setConflictHandler([&](const Conflict&) {
            ++asked;
            return ConflictChoice::Overwrite;
        });
        const std::string before = readFile(TableFile);
        const ChangeResult result = row.change(mine.session);
        if (result.reason != ChangeResult::Reason::AccountGone)
            storecheck::fail(__FILE__, __LINE__, std::string(row.what) + ": " + result.message);
        CHECK(result.outcome == ChangeResult::Outcome::Refused);
        CHECK_EQ(result.message,
                 std::string("The bank account Cash of weak is no longer in Gatekeep.acl: someone "
                             "else deleted or renamed it meanwhile") +
                     (row.another ? ", and the account New stands in its place now" : "") +
                     ". Nothing was changed.");
        CHECK_EQ(asked, 0);
        CHECK_EQ(readFile(TableFile), before);
        // The window is shown the file's table.
        CHECK(result.refreshed);
        CHECK_EQ(SessionAccess::table(mine.session).bytes(), before);
    }
}

// An answer holds for the file it was given on: changed again meanwhile,
// the change is made again on it and the person asked again.
TEST(AnAnswerHoldsOnlyForTheFileItWasGivenOn)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    theirs.session.setWriterWait(std::chrono::milliseconds(0));
    CHECK(mine.session.deleteUser("weak").done());
    CHECK(theirs.session
              .saveChanges(theirs.session.loadForEditing("weak"), plain("weak", "newpw", "/w"))
              .done());
    std::vector<ConflictChoice> answers = {ConflictChoice::Overwrite, ConflictChoice::Cancel};
    std::size_t asked = 0;
    bool grantMeanwhile = true;
    mine.session.setConflictHandler([&](const Conflict& conflict) {
        CHECK_EQ(conflict.user, std::string("weak"));
        // While the question is open, someone grants weak a right.
        if (std::exchange(grantMeanwhile, false))
            CHECK(theirs.session
                      .saveChanges(theirs.session.loadForEditing("weak"),
                                   plain("weak", "newpw", "/w", Rights{R::AddRecord}))
                      .done());
        return answers.at(asked++);
    });
    const std::string granted = [&] {
        const ChangeResult result = mine.session.save();
        CHECK(result.outcome == ChangeResult::Outcome::Cancelled);
        return readFile(TableFile);
    }();
    CHECK_EQ(asked, std::size_t(2));
    const UserTable file = onDisk();
    CHECK(file.FindUser("weak") != 0);
    CHECK_EQ(storecheck::decodedRights(file.slot(file.FindUser("weak"))), std::string("111101"));
    CHECK_EQ(granted, readFile(TableFile));

    // Asked again on the file as it is, the answer given there holds.
    answers = {ConflictChoice::Overwrite};
    asked = 0;
    CHECK(mine.session.save().done());
    CHECK_EQ(asked, std::size_t(1));
    CHECK_EQ(onDisk().FindUser("weak"), 0);
}

// Modify gives no account a name the user has already, letter case
// ignored, as New refuses it; two accounts of one name a table holds from
// elsewhere stay, and each is changed by its own entry.
TEST(AccountsOfOneName)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    {
        SignedIn mine("me", "pw");
        CHECK(mine.session.addAccount("weak", account("Loan", "")).done());
        const std::string before = readFile(TableFile);
        const ChangeResult renamed =
            mine.session.modifyAccount("weak", team::accountAt(1, "cASH", "x"));
        CHECK(renamed.reason == ChangeResult::Reason::DuplicateAccount);
        CHECK_EQ(renamed.message, std::string("The cASH is assigned, please Create another one."));
        CHECK_EQ(readFile(TableFile), before);
        // Its own name in another spelling is no other account's.
        CHECK(mine.session.modifyAccount("weak", team::accountAt(0, "CASH", "Till")).done());
    }

    UserTable table = onDisk();
    const int weak = table.FindUser("weak");
    storeEncoded(table.slot(weak).Accounts[0].AccountName, "Cash");
    storeEncoded(table.slot(weak).Accounts[1].AccountName, "Cash");
    storeEncoded(table.slot(weak).Accounts[1].AccountDescription, "second");
    SaveUserTable(table, TableFile);
    SignedIn mine("me", "pw");
    const std::vector<AccountData> shown = mine.session.Accounts("weak");
    CHECK_EQ(shown.size(), std::size_t(2));
    CHECK(mine.session.modifyAccount("weak", team::accountAt(1, "Cash", "changed")).done());
    CHECK_EQ(decoded(onDisk().slot(weak).Accounts[0].AccountDescription), std::string("Till"));
    CHECK_EQ(decoded(onDisk().slot(weak).Accounts[1].AccountDescription), std::string("changed"));
    CHECK(mine.session.deleteAccount("weak", 1).done());
    CHECK_EQ(entryName(onDisk(), "weak", 0), std::string("Cash"));
    CHECK(entryName(onDisk(), "weak", 1).empty());
}

// What a window asks before and after the new account dialog refuses as
// the change itself would, in the same words, and the asking changes and
// records nothing.
TEST(ANewAccountIsCheckedAsAddAccountChecksIt)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    const std::string before = readFile(TableFile);
    const std::vector<AccountData> shown = mine.session.Accounts("weak");
    CHECK(!shown.empty());

    CHECK(Session::mayAddAccount(shown).done());
    CHECK(Session::checkAccountName("Loan", shown).done());
    CHECK(Session::checkAccountName("cASH").done()); // nothing shown to clash with

    struct Row
    {
        ChangeResult asked;
        ChangeResult changed;
    };
    std::vector<AccountData> full = shown;
    while (full.size() < 10)
        full.push_back(
            team::accountAt(static_cast<int>(full.size()), "A" + std::to_string(full.size()), ""));
    const Row rows[] = {
        {Session::checkAccountName("cASH", shown),
         mine.session.addAccount("weak", account("cASH", ""))},
        {Session::checkAccountName(""), mine.session.addAccount("weak", account("", ""))},
    };
    for (const Row& row : rows) {
        CHECK(row.asked.outcome == ChangeResult::Outcome::Refused);
        CHECK(row.asked.reason == row.changed.reason);
        CHECK_EQ(row.asked.message, row.changed.message);
    }
    const ChangeResult noRoom = Session::mayAddAccount(full);
    CHECK(noRoom.outcome == ChangeResult::Outcome::Refused);
    CHECK(noRoom.reason == ChangeResult::Reason::AccountsFull);
    CHECK_EQ(noRoom.message, std::string("This user already has ten bank accounts."));
    CHECK_EQ(Session::checkAccountName("").message, std::string("Please give an account Name."));
    CHECK_EQ(readFile(TableFile), before);
}

// Of two users of one name in a table made elsewhere, Save Changes edits
// the one Modify loaded, and the other stays as it was.
TEST(SaveChangesEditsTheTwinLoaded)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    UserTable table = onDisk();
    const int weak = table.FindUser("weak");
    CHECK(weak > 0 && weak < 4);
    table.slot(4) = table.slot(weak);
    storeEncoded(table.slot(4).Password, "twinpw");
    SaveUserTable(table, TableFile);

    SignedIn mine("me", "pw");
    const LoadedUser loaded = mine.session.loadForEditing("weak");
    CHECK(!loaded.empty());
    CHECK(loaded == mine.session.loadForEditing("weak"));
    CHECK(loaded != mine.session.loadForEditing("me"));
    CHECK(mine.session.saveChanges(loaded, plain("weak2", "pw2", "/w")).done());
    const UserTable file = onDisk();
    const int twin = lookUpUser(file, "weak");
    CHECK(twin != 0);
    CHECK_EQ(decoded(file.slot(twin).Password), std::string("twinpw"));
    const int changed = lookUpUser(file, "weak2");
    CHECK(changed != 0);
    CHECK_EQ(decoded(file.slot(changed).Password), std::string("pw2"));
}

// A table renamed away under an open session is written anew by its next
// save, which says so; nothing waits on a file that is not there.
TEST(AVanishedTableIsWrittenAnew)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    CHECK(mine.session.deleteUser("weak").done());
    CHECK(::rename(TableFile.c_str(), "elsewhere.acl") == 0);
    CHECK(mine.session.addUser(plain("new", "npw", "/n")).done());
    const ChangeResult saved = mine.session.save();
    CHECK(saved.done());
    CHECK_EQ(saved.warning, std::string("Gatekeep.acl was gone (removed or renamed by someone "
                                        "else): it has been written anew, with the table as "
                                        "shown here."));
    CHECK_EQ(readFile(TableFile), SessionAccess::table(mine.session).bytes());
    CHECK(names(mine.session) == std::vector<std::string>({"boss", "me", "new"}));
    struct stat st
    {
    };
    CHECK(::stat(TableFile.c_str(), &st) == 0 && (st.st_mode & 07777) == 0600);
    CHECK(!mine.session.TableChanged());
    CHECK(mine.session.addAccount("new", account("Cash", "")).done());
}

TEST(NoTwoUsersShareAName)
{
    struct Row
    {
        const char* what;
        Rights myRights;
        ChangeResult (*change)(Session&);
    };
    const Rights all = {R::AddUsers, R::ModifyUsers, R::DeleteUsers};
    const Row rows[] = {
        {"Save Changes to another's name", all,
         [](Session& s) {
             return s.saveChanges(s.loadForEditing("weak"), plain(" BOSS ", "x", "/w"));
         }},
        {"a rightless user renamed to the administrator's name, without AddUsers",
         {R::ModifyUsers, R::DeleteUsers},
         [](Session& s) {
             return s.saveChanges(s.loadForEditing("weak"), plain("boss", "mine", "/w"));
         }},
        {"Add of the name of a user behind a free slot", all,
         [](Session& s) {
             // boss, (free), me, weak: weak stands behind the gap.
             return s.addUser(plain("Weak", "x", "/x"));
         }},
    };
    for (const Row& row : rows) {
        writeTeam(row.myRights);
        if (std::string(row.what).find("free slot") != std::string::npos) {
            UserTable table = onDisk();
            table.slot(4) = table.slot(3);
            table.slot(3) = table.slot(2);
            table.slot(2) = BlankUser;
            SaveUserTable(table, TableFile);
        }
        const std::string before = readFile(TableFile);
        SignedIn mine("me", "pw");
        const ChangeResult result = row.change(mine.session);
        if (result.reason != ChangeResult::Reason::DuplicateUser ||
            result.message != "User already exist.")
            storecheck::fail(__FILE__, __LINE__, std::string(row.what) + ": " + result.message);
        CHECK(mine.session.save().done());
        CHECK_EQ(readFile(TableFile), before);
    }

    // Keeping one's own name, in another spelling, is no twin.
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    CHECK(mine.session.saveChanges(mine.session.loadForEditing("weak"), plain("WEAK", "x", "/w"))
              .done());
}

TEST(AFailedSaveLeavesTableAndFileAsTheyWere)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    storecheck::runAsOrdinaryUser([] {
        Session session(TableFile);
        session.loadTable();
        session.signIn("me", "pw");
        CHECK(session.addUser(plain("new", "npw", "/n")).done());
        const std::string memoryBefore = SessionAccess::table(session).bytes();
        const std::string fileBefore = readFile(TableFile);
        CHECK(::chmod(TableFile.c_str(), 0444) == 0);
        const ChangeResult failed = session.addAccount("weak", account("Loan", ""));
        CHECK(failed.outcome == ChangeResult::Outcome::Failed);
        CHECK_EQ(failed.errorCode, 5);
        CHECK_EQ(failed.message, std::string("File access denied"));
        CHECK(SessionAccess::table(session).bytes() == memoryBefore);
        CHECK(session.TableChanged());
        CHECK_EQ(readFile(TableFile), fileBefore);
        // The same account again is one new attempt, not a duplicate.
        CHECK(::chmod(TableFile.c_str(), 0600) == 0);
        CHECK(session.addAccount("weak", account("Loan", "")).done());
        CHECK(decoded(SessionAccess::table(session).slot(3).Accounts[1].AccountName) == "Loan");
        CHECK(decoded(SessionAccess::table(session).slot(3).Accounts[2].AccountName).empty());
    });
}

namespace {

struct Events : AuditSink
{
    std::vector<AuditEvent> seen;
    void record(const AuditEvent& event) override { seen.push_back(event); }
};

int failTheTemporaryFile(tablefile_testing::SaveStep step, const std::string&)
{
    return step == tablefile_testing::SaveStep::TempWritten ? ENOSPC : 0;
}

} // namespace

// A restore writes the backup as a save writes a table: the old table whole
// when it fails, the table's owner, group and mode kept; it takes only a
// sound table, refused in check's words, with the rights the file holds at
// that moment; and it leaves a line naming the backup.
TEST(ARestoreWritesASoundBackupAsASaveDoes)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    UserTable older;
    LoadUserTable(older, TableFile);
    older.RemoveUserSlot(3);
    older.ClearEmptySlots();
    const std::string backup = older.bytes();
    const bool root = ::geteuid() == 0;
    CHECK(::chmod(TableFile.c_str(), 0640) == 0);
    if (root)
        CHECK(::chown(TableFile.c_str(), 0, storecheck::ordinaryGid()) == 0);
    struct stat before
    {
    };
    CHECK(::stat(TableFile.c_str(), &before) == 0);

    Events events;
    Session session(TableFile, &events);
    session.loadTable();
    CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
    CHECK(session.addUser(plain("waiting", "wpw", "/x")).done());
    const std::string file = readFile(TableFile);

    // Not a table of five users as the store reads it: refused, naming
    // every fault as check does.
    UserTable twins = older;
    twins.StoreNewUser(storecheck::plainRecord(" BOSS", "x", "/x", "111111"));
    for (const std::string& unsound : {backup.substr(0, 1000), twins.bytes(), std::string()}) {
        const ChangeResult refused = session.restore(unsound, "old.acl");
        std::string words = "Nothing was restored: the backup is not a sound table.";
        for (const std::string& fault : checkTable(unsound).faults)
            words += " " + fault;
        CHECK(refused.outcome == ChangeResult::Outcome::Refused);
        CHECK(refused.reason == ChangeResult::Reason::UnsoundTable);
        CHECK_EQ(refused.message, words);
        CHECK_EQ(readFile(TableFile), file);
        CHECK(SessionAccess::table(session).FindUser("waiting") > 0);
    }

    // A save that fails on the way leaves the old table.
    tablefile_testing::SaveHook = failTheTemporaryFile;
    const ChangeResult failed = session.restore(backup, "old.acl");
    tablefile_testing::SaveHook = nullptr;
    CHECK(failed.outcome == ChangeResult::Outcome::Failed);
    CHECK_EQ(readFile(TableFile), file);
    CHECK(storecheck::listWorkingDir() == std::vector<std::string>({TableFile}));

    events.seen.clear();
    const ChangeResult done = session.restore(backup, "old.acl");
    CHECK(done.done() && done.refreshed);
    CHECK_EQ(readFile(TableFile), backup);
    CHECK(names(session) == std::vector<std::string>({"boss", "me"}));
    CHECK(!session.TableChanged());
    struct stat after
    {
    };
    CHECK(::stat(TableFile.c_str(), &after) == 0);
    CHECK_EQ(after.st_mode & 07777, before.st_mode & 07777);
    CHECK_EQ(after.st_uid, before.st_uid);
    CHECK_EQ(after.st_gid, before.st_gid);
    CHECK_EQ(events.seen.size(), std::size_t{1});
    CHECK(events.seen[0].kind == AuditEvent::Kind::TableRestored);
    CHECK_EQ(events.seen[0].actor, std::string("me"));
    CHECK_EQ(events.seen[0].copy, std::string("old.acl"));

    // The rights are those the table holds now: revoked meanwhile, refused.
    Session boss(TableFile);
    boss.loadTable();
    CHECK(boss.signIn("boss", "bosspw") == Session::SignInResult::SignedIn);
    CHECK(boss.saveChanges(boss.loadForEditing("me"),
                           plain("me", "pw", "/m", Rights{R::AddUsers, R::ModifyUsers}))
              .done());
    const std::string revoked = readFile(TableFile);
    const ChangeResult refused = session.restore(file, "old.acl");
    CHECK(refused.reason == ChangeResult::Reason::MissingRight);
    CHECK_EQ(refused.message, std::string("You may not restore the table from a backup: that "
                                          "needs the DeleteUsers right."));
    CHECK_EQ(readFile(TableFile), revoked);

    // A backup without the restorer in it, as they signed in, signs them out.
    CHECK(boss.restore(backup, "old.acl").done());
    CHECK(!boss.signedOut());
    CHECK(boss.restore(file, "old.acl").done());
    UserTable without = older;
    without.RemoveUserSlot(1);
    without.ClearEmptySlots();
    CHECK(boss.restore(without.bytes(), "old.acl").done());
    CHECK(boss.signedOut());
}

namespace {

int failTheFolderSync(tablefile_testing::SaveStep step, const std::string&)
{
    return step == tablefile_testing::SaveStep::FolderSync ? EIO : 0;
}

} // namespace

// A step after the new table is in the file (the folder's sync) that fails
// makes no failed save: the file holds the change, and the result says what
// failed after it.
TEST(AFaultAfterTheNewTableIsInTheFileIsTheDoneResultsWarning)
{
    const std::string late = ioErrorText(ioCodeFromErrno(EIO));
    struct Row
    {
        const char* name;
        bool firstUse;
        ChangeResult (*make)(Session&);
        const char* said;
    };
    const Row rows[] = {
        {"save", false,
         [](Session& s) {
             s.addUser(plain("new", "npw", "/n"));
             return s.save();
         },
         "The change has been saved, but a step after it failed: "},
        {"account change", false,
         [](Session& s) {
             s.addUser(plain("new", "npw", "/n"));
             return s.addAccount("new", account("Loan", ""));
         },
         "The change has been saved, but a step after it failed: "},
        {"restore", false,
         [](Session& s) {
             UserTable backup = SessionAccess::table(s);
             backup.StoreNewUser(storecheck::plainRecord("new", "npw", "/n", "111111"));
             return s.restore(backup.bytes(), "old.acl");
         },
         "The table has been restored, but a step after it failed: "},
        {"first use", true, [](Session& s) { return s.createFirstUser(plain("new", "npw", "/")); },
         "The first login ID has been saved, but a step after it failed: "},
    };
    for (const Row& row : rows) {
        storecheck::clearWorkingDir();
        Session session(TableFile);
        if (!row.firstUse) {
            writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
            session.loadTable();
            CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
        }
        tablefile_testing::SaveHook = failTheFolderSync;
        const ChangeResult result = row.make(session);
        tablefile_testing::SaveHook = nullptr;
        if (!result.done() || result.warning != row.said + late)
            storecheck::fail(__FILE__, __LINE__,
                             std::string(row.name) + ": \"" + result.warning + "\"");
        CHECK(tableFromBytes(readFile(TableFile)) == SessionAccess::table(session));
        CHECK(SessionAccess::table(session).FindUser("new") > 0);
        CHECK(session.signedIn());
    }
}

// A table that cannot be read is the Failed result of the load, a create or
// a reload, with the file error's code and text; the table shown stays.
TEST(ALoadThatFailsIsAFailedResult)
{
    writeTeam(Rights::all());
    Session session(TableFile);
    CHECK(session.loadTable().done());
    const std::string shown = SessionAccess::table(session).bytes();
    const std::string team = readFile(TableFile);
    writeFile(TableFile, team.substr(0, 1000));
    for (ChangeResult (Session::*load)() :
         {&Session::loadTable, &Session::createTable, &Session::reload}) {
        const ChangeResult failed = (session.*load)();
        CHECK(failed.outcome == ChangeResult::Outcome::Failed);
        CHECK_EQ(failed.errorCode, 100);
        CHECK_EQ(failed.message, std::string("Read beyond end of file"));
        CHECK_EQ(SessionAccess::table(session).bytes(), shown);
    }
    ::unlink(TableFile.c_str());
    CHECK(::mkdir(TableFile.c_str(), 0700) == 0);
    const ChangeResult created = session.createTable();
    CHECK(created.outcome == ChangeResult::Outcome::Failed);
    CHECK_EQ(created.errorCode, 5);
    CHECK(::rmdir(TableFile.c_str()) == 0);
}

// A first use fills only an empty file of the user's own: the saved table
// would keep another's file's owner, and a link would lead elsewhere.
TEST(FirstUseFillsNoFileOfAnotherUserNorALink)
{
    struct Row
    {
        const char* label;
        bool asRoot; // needs root to give the file away
        std::function<void()> plant;
    };
    const Row rows[] = {
        {"another user's empty file", true,
         [] {
             writeFile(TableFile, "");
             ::chmod(TableFile.c_str(), 0666);
             CHECK(::chown(TableFile.c_str(), 65534, 65534) == 0);
         }},
        {"a link to an empty file", false,
         [] {
             writeFile("elsewhere", "");
             CHECK(::symlink("elsewhere", TableFile.c_str()) == 0);
         }},
    };
    for (const Row& row : rows) {
        if (row.asRoot && ::geteuid() != 0)
            continue;
        std::printf("  %s\n", row.label);
        storecheck::clearWorkingDir();
        row.plant();
        struct stat before
        {
        };
        CHECK(::lstat(TableFile.c_str(), &before) == 0);
        Session session(TableFile);
        const ChangeResult made = session.createFirstUser(plain("chief", "pw", "."));
        CHECK(made.reason == ChangeResult::Reason::ForeignFile);
        CHECK_EQ(made.message,
                 std::string("Gatekeep.acl here belongs to another user or is a link: the first "
                             "login ID is made only in a file of your own. Remove it, or ask "
                             "whoever made it."));
        CHECK(!session.signedIn());
        struct stat after
        {
        };
        CHECK(::lstat(TableFile.c_str(), &after) == 0);
        CHECK(after.st_ino == before.st_ino && after.st_uid == before.st_uid);
        CHECK_EQ(storecheck::readFile(TableFile), std::string());
    }
}

TEST(FirstUseCreatesTheOnlyUserAndSignsThemIn)
{
    // Where nothing is, and in the empty file a start without a table
    // leaves; the marker goes once the user exists.
    for (const bool emptyFile : {false, true}) {
        storecheck::clearWorkingDir();
        if (emptyFile)
            writeFile(TableFile, "");
        writeFile(Session::FirstUseMarker, "");
        CHECK(Session::firstUseDue("."));
        Session session(TableFile);
        // Name and password are trimmed, and all six rights given whatever
        // was asked.
        const ChangeResult made = session.createFirstUser(plain(" chief ", "pw\t", "/"));
        CHECK(made.done());
        CHECK(session.signedIn() && session.mayEditRights() && session.mayKeepAccounts());
        CHECK_EQ(readFile(TableFile).size(), UserTableFileSize);
        CHECK(names(session) == std::vector<std::string>({"chief"}));
        CHECK(session.me().rights == Rights::all());
        CHECK_EQ(session.me().password, std::string("pw"));
        CHECK(!storecheck::fileExists(Session::FirstUseMarker));
        CHECK(!Session::firstUseDue("."));

        Session again(TableFile);
        CHECK(again.createFirstUser(plain("other", "pw", "/")).reason ==
              ChangeResult::Reason::NotFirstUse);
    }

    // The first-use rules, in the dialog's order.
    storecheck::clearWorkingDir();
    struct Row
    {
        UserData user;
        ChangeResult::Reason reason;
        const char* message;
    };
    const Row rows[] = {
        {plain(" ", "pw", "/"), ChangeResult::Reason::EmptyField,
         "Please type in your new ID and Password."},
        {plain("chief", "\t", "/nowhere/at/all"), ChangeResult::Reason::EmptyField,
         "Please type in your new ID and Password."},
        {plain("chief", "pw", "/nowhere/at/all"), ChangeResult::Reason::BadDataPath,
         "Please give a correct path for your data files."},
        {plain("chief", "pw", ""), ChangeResult::Reason::BadDataPath,
         "Please give a correct path for your data files."},
    };
    for (const Row& row : rows) {
        Session session(TableFile);
        const ChangeResult refused = session.createFirstUser(row.user);
        CHECK(refused.reason == row.reason);
        CHECK_EQ(refused.message, std::string(row.message));
        CHECK(!storecheck::fileExists(TableFile));
        // The same rules asked for alone, as the command line's init asks
        // before it reads a password.
        const std::optional<ChangeResult> ruled = Session::firstUserRefusal(row.user);
        CHECK(ruled && ruled->outcome == ChangeResult::Outcome::Refused);
        CHECK(ruled && ruled->reason == row.reason && ruled->message == row.message);
    }
    CHECK(!Session::firstUserRefusal(plain(" chief ", "pw", "/")));
    CHECK(!Session::firstUserRefusal(plain("chief", "", "/"), false));
    CHECK(Session::firstUserRefusal(plain("chief", "", "/"))->reason ==
          ChangeResult::Reason::EmptyField);
    CHECK(Session::firstUserRefusal(plain("chief", "", "/nowhere/at/all"), false)->reason ==
          ChangeResult::Reason::BadDataPath);
    CHECK(!storecheck::fileExists(TableFile));
}

TEST(NamesAreLookedUpAsTheWindowsFindThem)
{
    writeFile(TableFile, testData("three-users.acl"));
    Session session(TableFile);
    session.loadTable();
    UserTable table;
    LoadUserTable(table, TableFile);
    struct UserRow
    {
        std::string typed;
        int slot;
    };
    const UserRow users[] = {
        {"admin", 1},
        {" clerk\t", 2},
        {"Ren\xe9"
         "e",
         3},
        {" Ren\xe9"
         "e ",
         3},
        {"ADMIN", 0},
        {"", 0},
        {"   ", 0},
    };
    for (const UserRow& row : users) {
        CHECK_EQ(lookUpUser(table, row.typed), row.slot);
        CHECK_EQ(lookUpUser(SessionAccess::table(session), row.typed), row.slot);
    }

    struct AccountRow
    {
        std::string user;
        std::string account;
        int entry;
    };
    const AccountRow accounts[] = {
        {"admin", "Checking", 0},
        {"admin", "cHECKING", 0},
        {"admin", "Savings", 2},
        {"admin", "", -1},
        {"admin", "Geld", -1},
        {" Ren\xc3\xa9"
         "e ",
         "GESCH\xc3\xa4"
         "FT",
         0},
        // Only a to z are folded.
        {" Ren\xc3\xa9"
         "e ",
         "Gesch\xc3\x84"
         "ft",
         -1},
        // Accounts belong to the stored name, not to what a person types.
        {"Ren\xc3\xa9"
         "e",
         "Gesch\xc3\xa4"
         "ft",
         -1},
        {"nobody", "Checking", -1},
    };
    for (const AccountRow& row : accounts) {
        if (session.lookUpAccount(row.user, row.account) != row.entry)
            storecheck::fail(__FILE__, __LINE__,
                             row.user + "/" + row.account + ": expected entry " +
                                 std::to_string(row.entry) + ", got " +
                                 std::to_string(session.lookUpAccount(row.user, row.account)));
    }
}

TEST(AnAccountIsFoundByItsExactNameBeforeAnotherSpelling)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    UserTable table;
    LoadUserTable(table, TableFile);
    // Two spellings the add rule would refuse, as a damaged or older file
    // may hold them.
    storeEncoded(table.slot(3).Accounts[1].AccountName, "CASH");
    SaveUserTable(table, TableFile);
    Session session(TableFile);
    session.loadTable();
    CHECK_EQ(session.lookUpAccount("weak", "CASH"), 1);
    CHECK_EQ(session.lookUpAccount("weak", "Cash"), 0);
    CHECK_EQ(session.lookUpAccount("weak", "cash"), 0);
}

TEST(DuplicateNamesAreThoseTheAddRuleRefuses)
{
    struct Row
    {
        std::string a;
        std::string b;
        bool same;
    };
    const Row rows[] = {
        {"weak", " WEAK ", true},
        {"weak", "weak2", false},
        {"Ren\xc3\xa9", "REN\xc3\xa9", true},
        {"Ren\xc3\xa9", "Ren\xc3\x89", false},
        {"a b", "A B", true},
        {"ab", "a b", false},
    };
    for (const Row& row : rows) {
        if (sameLoginName(row.a, row.b) != row.same || sameLoginName(row.b, row.a) != row.same)
            storecheck::fail(__FILE__, __LINE__, "\"" + row.a + "\" against \"" + row.b + "\"");
    }
}

TEST(UserDetailsAreSeenWithModifyUsersOrDeleteUsers)
{
    for (const auto& [label, rights] : team::userRightCombinations()) {
        writeTeam(rights);
        Session session(TableFile);
        session.loadTable();
        CHECK(!session.maySeeUserDetails());
        CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
        const bool expected = rights.has(R::ModifyUsers) || rights.has(R::DeleteUsers);
        if (session.maySeeUserDetails() != expected)
            storecheck::fail(__FILE__, __LINE__, std::string("as [") + label + "]");
    }
}

// The editor shows "NewPassWord" in place of the stored password, so Save
// Changes never takes that word for one, in any letter case, for the user's
// own record or anyone else's: a changed user always gets a typed password.
TEST(TheEditorsPlaceholderIsNoPassword)
{
    const char* const reserved = "The NewPassWord is a reserved word, please try another one.";
    for (const char* editing : {"weak", "me"}) {
        for (const char* typed : {"NewPassWord", "newpassword", "NEWPASSWORD", "nEWpASSwORD"}) {
            writeTeam(Rights::all());
            Session session(TableFile);
            session.loadTable();
            CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
            const std::string before = readFile(TableFile);
            const std::optional<UserData> user = session.user(editing);
            CHECK(user.has_value());
            UserData changed = *user;
            changed.password = typed;
            const ChangeResult result =
                session.saveChanges(session.loadForEditing(editing), changed);
            if (result.outcome != ChangeResult::Outcome::Refused ||
                result.reason != ChangeResult::Reason::ReservedPassword ||
                result.message != reserved)
                storecheck::fail(__FILE__, __LINE__,
                                 std::string(editing) + " given " + typed + ": " + result.message);
            CHECK_EQ(readFile(TableFile), before);
            CHECK_EQ(SessionAccess::table(session).bytes(), before);
        }
    }
    // A blank before it makes another password.
    writeTeam(Rights::all());
    Session session(TableFile);
    session.loadTable();
    session.signIn("me", "pw");
    CHECK(session.saveChanges(session.loadForEditing("weak"), plain("weak", " NewPass", "/w"))
              .done());
}

TEST(ARefreshShowsTheFilesTableWithTheWaitingChangesMadeAgainOnIt)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    CHECK(!mine.session.refresh().refreshed);

    CHECK(mine.session.deleteUser("weak").done());
    CHECK(mine.session.addUser(plain("new", "npw", "/n")).done());
    CHECK(theirs.session.addUser(plain("bob", "bobpw", "/bob")).done());
    CHECK(theirs.session.addUser(plain("NEW", "theirs", "/t")).done());
    CHECK(theirs.session.save().done());
    const std::string theirFile = readFile(TableFile);

    const ChangeResult shown = mine.session.refresh();
    CHECK(shown.done());
    CHECK(shown.refreshed);
    CHECK_EQ(
        shown.warning,
        std::string("Someone else has changed Gatekeep.acl: it is shown as it is now, and what "
                    "you changed since your last save was made again on it, but for:\n"
                    "Not saved, adding the user new: User already exist."));
    CHECK(names(mine.session) == std::vector<std::string>({"boss", "me", "bob", "NEW"}));
    CHECK(mine.session.TableChanged());
    CHECK_EQ(readFile(TableFile), theirFile);
    // Shown once: the next look finds nothing new.
    CHECK(!mine.session.refresh().refreshed);

    CHECK(mine.session.save().done());
    CHECK_EQ(onDisk().FindUser("weak"), 0);
    CHECK_EQ(onDisk().FindUser("bob"), 3);
    // Its own save is nothing new to the session.
    CHECK(!mine.session.refresh().refreshed);
    CHECK(!mine.session.TableChanged());
}

TEST(ADeletionShownAnotherVersionOfItsUserIsStillAskedAboutAtTheSave)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    std::vector<std::string> asked;
    mine.session.setConflictHandler([&](const Conflict& conflict) {
        asked.push_back(conflict.user);
        return ConflictChoice::Cancel;
    });
    CHECK(mine.session.deleteUser("weak").done());
    CHECK(theirs.session
              .saveChanges(theirs.session.loadForEditing("weak"), plain("weak", "theirs", "/w"))
              .done());
    const std::string theirFile = readFile(TableFile);

    const ChangeResult shown = mine.session.refresh();
    CHECK(shown.refreshed);
    CHECK_EQ(shown.warning, std::string());
    CHECK(names(mine.session) == std::vector<std::string>({"boss", "me"}));
    // The person decided on weak as they were: the save asks, as it would
    // have without the refresh.
    CHECK(mine.session.save().outcome == ChangeResult::Outcome::Cancelled);
    CHECK(asked == std::vector<std::string>({"weak"}));
    CHECK_EQ(readFile(TableFile), theirFile);
}

TEST(ARefreshFollowsTheRightsAndTheSignInTheFileHolds)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    CHECK(mine.session.addUser(plain("new", "npw", "/n")).done());
    CHECK(theirs.session
              .saveChanges(theirs.session.loadForEditing("me"),
                           plain("me", "pw", "/m", Rights{R::ModifyUsers}))
              .done());
    ChangeResult shown = mine.session.refresh();
    CHECK(shown.refreshed);
    CHECK(!mine.session.mayAdd() && mine.session.mayModify());
    CHECK_EQ(
        shown.warning,
        std::string("Someone else has changed Gatekeep.acl: it is shown as it is now, and what "
                    "you changed since your last save was made again on it, but for:\n"
                    "Not saved, adding the user new: You may not add users: that needs the "
                    "AddUsers right."));
    CHECK(!mine.session.TableChanged());

    CHECK(theirs.session.deleteUser("me").done());
    CHECK(theirs.session.save().done());
    shown = mine.session.refresh();
    CHECK(shown.outcome == ChangeResult::Outcome::Refused);
    CHECK(shown.reason == ChangeResult::Reason::SignedOut);
    CHECK_EQ(shown.message, mine.session.signedOutMessage());
    CHECK(mine.session.signedOut());
}

TEST(ARefreshLeavesAFileAnotherWriterHoldsForTheNextLook)
{
    writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    {
        const Session::WriterTake writing = theirs.session.holdWriterLock();
        CHECK(writing.hold);
        CHECK(theirs.session.addUser(plain("bob", "bobpw", "/bob")).done());
        CHECK(theirs.session.save().done());
        CHECK(!mine.session.refresh().refreshed);
        CHECK(names(mine.session) == std::vector<std::string>({"boss", "me", "weak"}));
    }
    CHECK(mine.session.refresh().refreshed);
    CHECK(names(mine.session) == std::vector<std::string>({"boss", "me", "weak", "bob"}));
}

// The editor's placeholder, and the eight characters of it the table would
// keep, in any letter case, reach nobody's record: not by Add, not by Save
// Changes. A blank before it makes another password.
TEST(ThePlaceholderPasswordReachesNoRecord)
{
    const char* const reserved[] = {"NewPassWord", "newpassword", "NEWPASSW", "NewPassW",
                                    "NewPassWx"};
    for (const char* password : reserved) {
        writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
        const std::string before = readFile(TableFile);
        Session session(TableFile);
        session.loadTable();
        CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
        const ChangeResult added = session.addUser(plain("copy", password, "/c"));
        CHECK(added.reason == ChangeResult::Reason::ReservedPassword);
        CHECK_EQ(added.message,
                 std::string("The NewPassWord is a reserved word, please try another one."));
        CHECK(!session.TableChanged());
        const ChangeResult saved =
            session.saveChanges(session.loadForEditing("weak"), plain("weak", password, "/w"));
        CHECK(saved.reason == ChangeResult::Reason::ReservedPassword);
        CHECK_EQ(readFile(TableFile), before);
    }
    // Nor does the first login ID, which would hold every right with it.
    for (const char* password : reserved) {
        ::unlink(TableFile.c_str());
        Session first(TableFile);
        const ChangeResult made = first.createFirstUser(plain("chief", password, "."));
        CHECK(made.reason == ChangeResult::Reason::ReservedPassword);
        CHECK(!storecheck::fileExists(TableFile));
        CHECK(Session::firstUserRefusal(plain("chief", password, "."), false) == std::nullopt);
    }
    writeTeam(Rights{R::AddUsers, R::ModifyUsers});
    Session session(TableFile);
    session.loadTable();
    CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
    CHECK(session.addUser(plain("copy", " NewPass", "/c")).done());
    CHECK(
        session.saveChanges(session.loadForEditing("weak"), plain("weak", "NewPass", "/w")).done());
}

// Every user, whatever their rights, changes their own password, held to
// the rules every password is; they stay signed in, keep their slot and
// accounts, and the waiting changes are saved with it.
TEST(AnyUserChangesTheirOwnPassword)
{
    struct Row
    {
        const char* old;
        const char* fresh;
        const char* again;
        ChangeResult::Reason reason;
    };
    const Row refusals[] = {
        {"nope", "fresh", "fresh", ChangeResult::Reason::WrongPassword},
        {"pw", "", "", ChangeResult::Reason::EmptyField},
        {"pw", "  ", "  ", ChangeResult::Reason::EmptyField},
        {"pw", "fresh", "fresH", ChangeResult::Reason::PasswordsDiffer},
        {"pw", "fr\tesh", "fr\tesh", ChangeResult::Reason::ControlCharacter},
        {"pw", "123456789", "123456789", ChangeResult::Reason::TooLong},
        {"pw", "newpassw", "newpassw", ChangeResult::Reason::ReservedPassword},
    };
    for (const Row& row : refusals) {
        writeTeam(Rights{});
        const std::string before = readFile(TableFile);
        Session session(TableFile);
        session.loadTable();
        CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
        const ChangeResult result = session.changeOwnPassword(row.old, row.fresh, row.again);
        CHECK(result.outcome == ChangeResult::Outcome::Refused);
        CHECK(result.reason == row.reason);
        CHECK_EQ(readFile(TableFile), before);
    }
    for (const auto& [label, rights] : team::userRightCombinations()) {
        writeTeam(rights);
        Session session(TableFile);
        session.loadTable();
        CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
        if (rights.has(R::AddUsers))
            CHECK(session.addUser(plain("new", "npw", "/n")).done());
        const ChangeResult result = session.changeOwnPassword("pw", "fresh", "fresh");
        CHECK(result.done());
        CHECK(!session.TableChanged());
        CHECK(!session.signedOut());
        CHECK_EQ(lookUpUser(SessionAccess::table(session), "me"), 2);
        CHECK_EQ(decoded(SessionAccess::table(session).slot(2).Password), std::string("fresh"));
        CHECK_EQ(team::flags(session.me().rights), team::flags(rights));
        // Still signed in as the record it made: the next change goes on.
        CHECK(session.changeOwnPassword("fresh", "again", "again").done());
        Session fresh(TableFile);
        fresh.loadTable();
        CHECK(fresh.signIn("me", "again") == Session::SignInResult::SignedIn);
        CHECK_EQ(fresh.knowsUser("new"), rights.has(R::AddUsers));
    }
}

// The question about a user someone else changed says what they changed,
// so the person can weigh it.
TEST(TheClashQuestionSaysWhatTheOtherSideChanged)
{
    struct Row
    {
        UserData theirs;
        const char* change;
    };
    const Row rows[] = {
        {plain("weak", "newpw", "/w"), "password"},
        {plain("weak", "weakpw", "/w2"), "data path"},
        {plain("weak", "weakpw", "/w", Rights{R::AddRecord, R::DeleteUsers}),
         "granted DeleteUsers, granted AddRecord"},
        {plain("weak", "newpw", "/w2", Rights{R::ModifyRecord}),
         "password, data path, granted ModifyRecord"},
    };
    for (const Row& row : rows) {
        writeTeam(Rights::all());
        Session mine(TableFile);
        mine.loadTable();
        CHECK(mine.signIn("me", "pw") == Session::SignInResult::SignedIn);
        CHECK(mine.deleteUser("weak").done());

        Session theirs(TableFile);
        theirs.loadTable();
        CHECK(theirs.signIn("boss", "bosspw") == Session::SignInResult::SignedIn);
        CHECK(theirs.saveChanges(theirs.loadForEditing("weak"), row.theirs).done());

        std::optional<Conflict> asked;
        mine.setConflictHandler([&](const Conflict& conflict) {
            asked = conflict;
            return ConflictChoice::Cancel;
        });
        CHECK(mine.save().outcome == ChangeResult::Outcome::Cancelled);
        CHECK(asked.has_value());
        if (!asked)
            continue;
        CHECK_EQ(asked->user, std::string("weak"));
        CHECK_EQ(asked->change, std::string(row.change));
        CHECK(conflictQuestion(*asked).find("\nTheir change: " + std::string(row.change) + ".\n") !=
              std::string::npos);
    }
}
