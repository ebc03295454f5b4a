#include "../store/StoreCheck.h"
#include "Team.h"

#include "session/Records.h"
#include "session/Session.h"
#include "session/TableCheck.h"
#include "store/IoError.h"
#include "store/Scramble.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using storecheck::ReadFile;
using storecheck::TableFile;
using storecheck::TestData;
using storecheck::WriteFile;
using team::Account;
using team::Plain;

namespace {

void WriteTeam(const Rights& myRights)
{
    team::WriteTeam(myRights, TableFile);
}

std::vector<std::string> Names(const Session& session)
{
    return session.ListedNames();
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

const std::vector<Change>& Changes()
{
    static const std::vector<Change> changes = {
        {"add user",
         {Rights{R::AddUsers}, Rights{R::AddUsers, R::ModifyUsers},
          Rights{R::AddUsers, R::DeleteUsers}, Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) { return s.AddUser(Plain("new", "npw", "/n")); },
         [](const Session& s) { return s.Table().FindUser("new") == 4; }},
        {"add user with a right",
         {Rights{R::AddUsers, R::ModifyUsers}, Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) { return s.AddUser(Plain("new", "npw", "/n", Rights{R::DeleteRecord})); },
         [](const Session& s) { return s.Table().FindUser("new") == 4; }},
        {"delete user",
         {Rights{R::DeleteUsers}, Rights{R::AddUsers, R::DeleteUsers},
          Rights{R::ModifyUsers, R::DeleteUsers},
          Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) { return s.DeleteUser("weak"); },
         [](const Session& s) { return s.Table().FindUser("weak") == 0; }},
        {"save changes: new password",
         {Rights{R::ModifyUsers}, Rights{R::AddUsers, R::ModifyUsers},
          Rights{R::ModifyUsers, R::DeleteUsers},
          Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) {
             return s.SaveChanges(s.loadForEditing("weak"), Plain("weak", "newpw", "/w"));
         },
         [](const Session& s) {
             return Decoded(s.Table().Slot(3).Password) == "newpw" &&
                    Decoded(s.Table().Slot(3).Accounts[0].AccountName) == "Cash";
         }},
        {"save changes: a right granted",
         {Rights{R::AddUsers, R::ModifyUsers}, Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) {
             return s.SaveChanges(s.loadForEditing("weak"),
                                  Plain("weak", "newpw", "/w", Rights{R::AddUsers}));
         },
         [](const Session& s) { return storecheck::DecodedRights(s.Table().Slot(3)) == "111110"; }},
        {"save changes: take over a stronger user",
         {Rights{R::AddUsers, R::ModifyUsers}, Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) {
             return s.SaveChanges(s.loadForEditing("boss"),
                                  Plain("boss", "mine", "/b", Rights::All()));
         },
         [](const Session& s) { return Decoded(s.Table().Slot(3).Password) == "mine"; }},
        {"new account",
         {Rights{R::ModifyUsers, R::DeleteUsers},
          Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) { return s.AddAccount("weak", Account("Loan", "")); },
         [](const Session& s) {
             return Decoded(s.Table().Slot(3).Accounts[1].AccountName) == "Loan";
         }},
        {"modify account",
         {Rights{R::ModifyUsers, R::DeleteUsers},
          Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) { return s.ModifyAccount("weak", team::AccountAt(0, "Cash", "Safe")); },
         [](const Session& s) {
             return Decoded(s.Table().Slot(3).Accounts[0].AccountDescription) == "Safe";
         }},
        {"delete account",
         {Rights{R::ModifyUsers, R::DeleteUsers},
          Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) { return s.DeleteAccount("weak", 0); },
         [](const Session& s) { return s.Table().Slot(3).Accounts[0].AccountName.empty(); }},
        // Every user at once, whoever they are: as much as adding, changing
        // and deleting all of them.
        {"restore a backup",
         {Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
         [](Session& s) {
             UserTable backup = s.Table();
             backup.StoreNewUser(storecheck::PlainRecord("back", "bpw", "/k", "111111"));
             return s.restore(backup.Bytes(), "old.acl");
         },
         [](const Session& s) { return s.Table().FindUser("back") == 4; }},
    };
    return changes;
}

} // namespace

TEST(EveryChangeIsMadeOnlyWithItsRights)
{
    for (const auto& [label, rights] : team::UserRightCombinations()) {
        for (const Change& change : Changes()) {
            WriteTeam(rights);
            const std::string fileBefore = ReadFile(TableFile);
            Session session(TableFile);
            session.LoadTable();
            CHECK(session.SignIn("me", "pw") == Session::SignInResult::SignedIn);
            const std::string tableBefore = session.Table().Bytes();

            const ChangeResult result = change.make(session);
            const bool allowed = std::find(change.allowedFor.begin(), change.allowedFor.end(),
                                           rights) != change.allowedFor.end();
            const std::string row = std::string(change.name) + " as [" + label + "]";
            if (allowed) {
                if (!result.done() || !change.made(session))
                    storecheck::Fail(__FILE__, __LINE__, row + ": refused: " + result.message);
            } else {
                if (result.outcome != ChangeResult::Outcome::Refused ||
                    result.reason != ChangeResult::Reason::MissingRight ||
                    session.Table().Bytes() != tableBefore || ReadFile(TableFile) != fileBefore ||
                    session.TableChanged())
                    storecheck::Fail(__FILE__, __LINE__, row + ": not refused cleanly");
            }
        }
    }
}

TEST(RefusalsGiveTheirReasonsAndChangeNothing)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    Session session(TableFile);
    session.LoadTable();
    session.SignIn("me", "pw");
    const std::string before = session.Table().Bytes();
    struct Row
    {
        ChangeResult result;
        ChangeResult::Reason reason;
        std::string message;
    };
    const Row rows[] = {
        {session.AddUser(Plain(" WEAK ", "x", "/x")), ChangeResult::Reason::DuplicateUser,
         "User already exist."},
        {session.AddUser(Plain("x", " ", "/x")), ChangeResult::Reason::EmptyField,
         "Please fill all sections."},
        {session.SaveChanges(session.loadForEditing(""), Plain("weak", "pw2", "/w")),
         ChangeResult::Reason::NothingLoaded,
         "No user has been loaded for editing: select a user and press Modify first."},
        {session.SaveChanges(session.loadForEditing("gone"), Plain("gone", "pw2", "/w")),
         ChangeResult::Reason::NoSuchUser,
         "The user being edited no longer exists: load it again with Modify."},
        {session.AddAccount("weak", Account("cASH", "")), ChangeResult::Reason::DuplicateAccount,
         "The cASH is assigned, please Create another one."},
        {session.ModifyAccount("weak", team::AccountAt(4, "x", "")),
         ChangeResult::Reason::NoSuchAccount, "There is no such bank account."},
        // A free slot's name reads as the empty text: it is nobody's.
        {session.AddAccount("", Account("x", "")), ChangeResult::Reason::NoSuchUser,
         "There is no user of that name."},
        {session.DeleteUser(""), ChangeResult::Reason::NoSuchUser,
         "There is no user of that name."},
    };
    for (const Row& row : rows) {
        if (row.result.message != row.message)
            storecheck::Fail(__FILE__, __LINE__,
                             "expected " + row.message + ", got: " + row.result.message);
        CHECK(row.result.outcome == ChangeResult::Outcome::Refused);
        CHECK(row.result.reason == row.reason);
        CHECK_EQ(row.result.message, row.message);
    }
    CHECK(session.Table().Bytes() == before);
}

TEST(ATableOfFiveTakesNoSixthUser)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    Session session(TableFile);
    session.LoadTable();
    session.SignIn("me", "pw");
    CHECK(session.AddUser(Plain("u4", "p", "/4")).done());
    CHECK(session.AddUser(Plain("u5", "p", "/5")).done());
    const ChangeResult sixth = session.AddUser(Plain("u6", "p", "/6"));
    CHECK(sixth.reason == ChangeResult::Reason::TableFull);
    CHECK_EQ(Names(session).size(), std::size_t(5));
}

TEST(SignInFindsBlankPaddedNamesAndComparesPasswordsExactly)
{
    WriteFile(TableFile, TestData("three-users.acl"));
    Session session(TableFile);
    session.LoadTable();
    CHECK(session.SignIn("renée", "café€") == Session::SignInResult::UnknownName);
    CHECK(session.SignIn("  ", "x") == Session::SignInResult::UnknownName);
    CHECK(session.SignIn("Ren\xe9"
                         "e",
                         "caf\xe9\x80 ") == Session::SignInResult::WrongPassword);
    CHECK(session.SignIn("Ren\xe9"
                         "e",
                         "") == Session::SignInResult::EmptyPassword);
    CHECK(!session.SignedIn());
    CHECK(session.SignIn(" Ren\xe9"
                         "e\t",
                         "caf\xe9\x80") == Session::SignInResult::SignedIn);
    CHECK_EQ(session.Me().loginName, std::string(" Ren\xe9"
                                                 "e "));
    CHECK(session.MayDelete() && !session.MayModify() && !session.MayAdd());
}

TEST(SaveChangesKeepsAccountsAndClearsPendingChanges)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    Session session(TableFile);
    session.LoadTable();
    session.SignIn("me", "pw");
    CHECK(session.DeleteUser("boss").done());
    CHECK(session.TableChanged());
    // weak moved from slot 3 to 2: found again by name.
    CHECK(session.SaveChanges(session.loadForEditing("weak"), Plain("weak2", "pw2", "/w2")).done());
    CHECK(!session.TableChanged());
    CHECK(Names(session) == std::vector<std::string>({"me", "weak2"}));
    CHECK_EQ(Decoded(session.Table().Slot(2).Accounts[0].AccountName), std::string("Cash"));
    CHECK_EQ(ReadFile(TableFile), session.Table().Bytes());
}

namespace {

struct SignedIn
{
    explicit SignedIn(const char* name, const char* password) : session(TableFile)
    {
        session.LoadTable();
        CHECK(session.SignIn(name, password) == Session::SignInResult::SignedIn);
    }
    Session session;
};

UserTable OnDisk()
{
    UserTable table;
    LoadUserTable(table, TableFile);
    return table;
}

AnsiString EntryName(const UserTable& table, const char* user, int entry)
{
    const int slot = table.FindUser(user);
    return slot == 0
               ? "(no user)"
               : Decoded(table.Slot(slot).Accounts[static_cast<std::size_t>(entry)].AccountName);
}

const std::string BroughtUpToDate = "Gatekeep.acl had been changed by someone else meanwhile: it "
                                    "was brought up to date first, and the change was made on it.";

} // namespace

TEST(AChangeOfOtherUsersOrAccountsLandsOnTheFilesTable)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    int asked = 0;
    mine.session.SetConflictHandler([&](const Conflict&) {
        ++asked;
        return ConflictChoice::Cancel;
    });

    CHECK(theirs.session.AddAccount("weak", Account("Theirs", "")).done());
    CHECK(theirs.session.AddUser(Plain("bob", "bobpw", "/bob")).done());
    CHECK(theirs.session.Save().done());
    CHECK(mine.session.AddUser(Plain("new", "npw", "/n")).done());
    const ChangeResult merged = mine.session.AddAccount("weak", Account("Mine", ""));
    CHECK(merged.done());
    CHECK(merged.refreshed);
    CHECK_EQ(merged.warning, BroughtUpToDate);
    CHECK_EQ(asked, 0);
    const UserTable file = OnDisk();
    CHECK_EQ(EntryName(file, "weak", 1), std::string("Theirs"));
    CHECK_EQ(EntryName(file, "weak", 2), std::string("Mine"));
    CHECK_EQ(file.FindUser("bob"), 4);
    CHECK_EQ(file.FindUser("new"), 5);
    CHECK_EQ(mine.session.Table().Bytes(), ReadFile(TableFile));

    // Someone else's save of the same table only brings it up to date.
    CHECK(theirs.session.ModifyAccount("weak", team::AccountAt(1, "Theirs", "kept")).done());
    CHECK_EQ(Decoded(OnDisk().Slot(3).Accounts[2].AccountName), std::string("Mine"));
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
        WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
        SignedIn mine("me", "pw");
        SignedIn theirs("boss", "bosspw");
        CHECK(theirs.session.ModifyAccount("weak", team::AccountAt(0, "Cash", "theirs")).done());
        // Another user's change on the way is no question.
        CHECK(theirs.session
                  .SaveChanges(theirs.session.loadForEditing("boss"),
                               Plain("boss", "bosspw2", "/b", Rights::All()))
                  .done());
        std::vector<Conflict> asked;
        mine.session.SetConflictHandler([&](const Conflict& conflict) {
            asked.push_back(conflict);
            return row.choice;
        });
        const std::string before = ReadFile(TableFile);
        const ChangeResult result =
            mine.session.ModifyAccount("weak", team::AccountAt(0, "Cash", "mine"));
        CHECK(result.outcome == row.outcome);
        CHECK_EQ(asked.size(), std::size_t(1));
        CHECK_EQ(asked.at(0).user, std::string("weak"));
        CHECK_EQ(asked.at(0).account, std::string("Cash"));
        const UserTable file = OnDisk();
        CHECK_EQ(Decoded(file.Slot(file.FindUser("weak")).Accounts[0].AccountDescription),
                 std::string(row.descriptionAfter));
        CHECK_EQ(Decoded(file.Slot(file.FindUser("boss")).Password), std::string("bosspw2"));
        if (row.choice != ConflictChoice::Overwrite)
            CHECK_EQ(ReadFile(TableFile), before);
        if (row.choice == ConflictChoice::Reload)
            CHECK_EQ(mine.session.Table().Bytes(), before);
    }
}

// Someone thinking over the question keeps no one else from saving; the
// change is then made again on the file as it is by then, and asked about
// again there.
TEST(TheQuestionIsAskedWithTheWriterLockLetGo)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    theirs.session.SetWriterWait(std::chrono::milliseconds(0));
    CHECK(theirs.session.ModifyAccount("weak", team::AccountAt(0, "Cash", "theirs")).done());
    int asked = 0;
    mine.session.SetConflictHandler([&](const Conflict&) {
        if (++asked == 1)
            CHECK(theirs.session.AddAccount("boss", Account("During", "")).done());
        return ConflictChoice::Overwrite;
    });
    CHECK(mine.session.ModifyAccount("weak", team::AccountAt(0, "Cash", "mine")).done());
    CHECK_EQ(asked, 2);
    const UserTable file = OnDisk();
    CHECK_EQ(Decoded(file.Slot(file.FindUser("weak")).Accounts[0].AccountDescription),
             std::string("mine"));
    CHECK_EQ(EntryName(file, "boss", 0), std::string("During"));
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
        WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
        SignedIn mine("me", "pw");
        Session other(TableFile);
        std::optional<Session::WriterHold> held(other.HoldWriterLock());
        std::vector<Session::WriterWait> heard;
        mine.session.SetWriterWait(row.wait, [&](Session::WriterWait step) {
            heard.push_back(step);
            const int asked = int(heard.size());
            if (asked == row.letGoAfter)
                held.reset();
            return asked != row.stopAfter;
        });
        const std::string before = ReadFile(TableFile);
        const ChangeResult result = mine.session.AddAccount("weak", Account("Waited", ""));

        CHECK(heard.size() >= 2);
        CHECK(heard.front() == Session::WriterWait::Begins);
        CHECK(heard.back() == Session::WriterWait::Ends);
        CHECK_EQ(std::count(heard.begin(), heard.end(), Session::WriterWait::Goes),
                 std::ptrdiff_t(heard.size() - 2));
        if (*row.failure == 0) {
            CHECK(result.done());
            CHECK_EQ(EntryName(OnDisk(), "weak", 1), std::string("Waited"));
            continue;
        }
        CHECK(result.outcome == ChangeResult::Outcome::Failed);
        CHECK_EQ(result.errorCode, 32);
        CHECK_EQ(result.message, std::string(row.failure));
        CHECK_EQ(ReadFile(TableFile), before);
        // Tried again with the lock let go, the same change lands.
        held.reset();
        CHECK(mine.session.AddAccount("weak", Account("Waited", "")).done());
        CHECK_EQ(EntryName(OnDisk(), "weak", 1), std::string("Waited"));
    }
}

TEST(AWaitingDeletionOfAUserChangedMeanwhileIsAskedAboutAtTheSave)
{
    for (const ConflictChoice choice : {ConflictChoice::Reload, ConflictChoice::Overwrite}) {
        WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
        SignedIn mine("me", "pw");
        SignedIn theirs("boss", "bosspw");
        CHECK(mine.session.DeleteUser("weak").done());
        CHECK(theirs.session
                  .SaveChanges(theirs.session.loadForEditing("weak"), Plain("weak", "newpw", "/w"))
                  .done());
        std::vector<Conflict> asked;
        mine.session.SetConflictHandler([&](const Conflict& conflict) {
            asked.push_back(conflict);
            return choice;
        });
        CHECK(mine.session.Save().done());
        CHECK_EQ(asked.size(), std::size_t(1));
        CHECK_EQ(asked.at(0).user, std::string("weak"));
        CHECK_EQ(OnDisk().FindUser("weak") != 0, choice == ConflictChoice::Reload);
    }

    // A user someone else deleted cannot be changed; nothing is written.
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    CHECK(theirs.session.DeleteUser("weak").done());
    CHECK(theirs.session.Save().done());
    const std::string theirFile = ReadFile(TableFile);
    const ChangeResult gone =
        mine.session.SaveChanges(mine.session.loadForEditing("weak"), Plain("weak", "x", "/w"));
    CHECK(gone.reason == ChangeResult::Reason::NoSuchUser);
    CHECK_EQ(ReadFile(TableFile), theirFile);
}

TEST(RightsAreThoseTheFileHoldsAtEachChange)
{
    // Revoked: refused at once, and no save brings the rights back.
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    CHECK(mine.session.AddUser(Plain("new", "npw", "/n")).done());
    CHECK(theirs.session
              .SaveChanges(theirs.session.loadForEditing("me"), Plain("me", "pw", "/m", Rights{}))
              .done());
    mine.session.SetConflictHandler([](const Conflict&) { return ConflictChoice::Overwrite; });
    const std::string revoked = ReadFile(TableFile);
    const ChangeResult account = mine.session.AddAccount("weak", Account("Mine", ""));
    CHECK(account.reason == ChangeResult::Reason::MissingRight);
    CHECK(!mine.session.MayKeepAccounts());
    CHECK(!mine.session.MayAdd());
    CHECK(mine.session.DeleteUser("weak").reason == ChangeResult::Reason::MissingRight);
    const ChangeResult saved = mine.session.Save();
    CHECK(saved.done());
    CHECK_EQ(saved.warning, BroughtUpToDate +
                                "\nNot saved, adding the user new: You may not add users: that "
                                "needs the AddUsers right.");
    CHECK_EQ(ReadFile(TableFile), revoked);

    // Nobody is asked about a change the file's rights no longer allow.
    CHECK(theirs.session.ModifyAccount("weak", team::AccountAt(0, "Cash", "theirs")).done());
    int asked = 0;
    mine.session.SetConflictHandler([&](const Conflict&) {
        ++asked;
        return ConflictChoice::Overwrite;
    });
    CHECK(mine.session.ModifyAccount("weak", team::AccountAt(0, "Cash", "mine")).reason ==
          ChangeResult::Reason::MissingRight);
    CHECK_EQ(asked, 0);

    // Given back: usable again without signing in anew.
    CHECK(theirs.session
              .SaveChanges(theirs.session.loadForEditing("me"),
                           Plain("me", "pw", "/m", Rights{R::ModifyUsers, R::DeleteUsers}))
              .done());
    CHECK(mine.session.AddAccount("weak", Account("Mine", "")).done());
    CHECK(mine.session.MayKeepAccounts());

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
             CHECK(boss.SaveChanges(boss.loadForEditing("me"),
                                    Plain("you", "pw", "/m", Rights::All()))
                       .done());
         }},
        {"deleted",
         [](Session& boss) { CHECK(boss.DeleteUser("me").done() && boss.Save().done()); }},
        {"given another password",
         [](Session& boss) {
             CHECK(boss.SaveChanges(boss.loadForEditing("me"),
                                    Plain("me", "newpw", "/m", Rights{R::ModifyUsers}))
                       .done());
         }},
        {"deleted and added anew for someone else",
         [](Session& boss) {
             CHECK(boss.DeleteUser("me").done());
             CHECK(boss.AddUser(Plain("me", "newpw", "/new", Rights::All())).done());
             CHECK(boss.Save().done());
         }},
    };
    for (const Gone& row : gone) {
        WriteTeam(Rights{R::ModifyUsers});
        SignedIn me("me", "pw");
        SignedIn boss("boss", "bosspw");
        row.change(boss.session);
        const std::string file = ReadFile(TableFile);
        const ChangeResult result =
            me.session.SaveChanges(me.session.loadForEditing("weak"), Plain("weak", "x", "/w"));
        if (result.reason != ChangeResult::Reason::SignedOut)
            storecheck::Fail(__FILE__, __LINE__, std::string(row.what) + ": " + result.message);
        CHECK_EQ(result.message,
                 std::string("Your login ID me is no longer in Gatekeep.acl as you signed in "
                             "(someone else deleted it, renamed it or gave it another password): "
                             "you are signed out, and nothing more can be changed until you sign "
                             "in again."));
        CHECK(me.session.SignedOut());
        CHECK(!me.session.MayAdd() && !me.session.MayModify() && !me.session.MayDelete());
        CHECK(me.session.AddUser(Plain("x", "x", "/x")).reason == ChangeResult::Reason::SignedOut);
        CHECK(me.session.Save().reason == ChangeResult::Reason::SignedOut);
        CHECK_EQ(ReadFile(TableFile), file);
    }

    // Renaming oneself, or giving oneself another password, is no signing
    // out.
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn self("me", "pw");
    CHECK(self.session
              .SaveChanges(
                  self.session.loadForEditing("me"),
                  Plain("myself", "pw", "/m", Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}))
              .done());
    CHECK(self.session.AddAccount("weak", Account("Mine", "")).done());
    CHECK(self.session
              .SaveChanges(
                  self.session.loadForEditing("myself"),
                  Plain("myself", "pw2", "/m", Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}))
              .done());
    CHECK(self.session.AddAccount("weak", Account("More", "")).done());
    CHECK_EQ(self.session.Me().password, std::string("pw2"));
    CHECK(!self.session.SignedOut());
}

// Deleting one's own login ID says at once what follows; once saved, the
// session is signed out and says it was the person's own change.
TEST(DeletingOnesOwnLoginIdSaysWhatFollows)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn me("me", "pw");
    const ChangeResult deleted = me.session.DeleteUser("me");
    CHECK(deleted.done());
    CHECK_EQ(
        deleted.warning,
        std::string("You have deleted your own login ID me. Once the table is saved (on leaving, "
                    "or with the next change written at once), you are signed out: nothing more "
                    "can be changed until you sign in as another user."));
    CHECK(!me.session.SignedOut());
    CHECK(me.session.DeleteUser("weak").done());
    CHECK(me.session.AddAccount("boss", Account("Last", "")).done());
    CHECK(me.session.SignedOut());
    CHECK_EQ(me.session.SignedOutMessage(),
             std::string("Your login ID me has been deleted by your own change, now saved: you "
                         "are signed out, and nothing more can be changed until you sign in as "
                         "another user."));
    const UserTable file = OnDisk();
    CHECK_EQ(file.FindUser("me"), 0);
    CHECK_EQ(file.FindUser("weak"), 0);
    CHECK_EQ(EntryName(file, "boss", 0), std::string("Last"));
    CHECK(me.session.AddAccount("boss", Account("More", "")).reason ==
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
         [](Session& s) { return s.DeleteAccount("weak", 0); }},
        {"modify, another in its place", true,
         [](Session& s) { return s.ModifyAccount("weak", team::AccountAt(0, "Cash", "mine")); }},
        {"delete, entry empty", false, [](Session& s) { return s.DeleteAccount("weak", 0); }},
        {"modify, entry empty", false,
         [](Session& s) { return s.ModifyAccount("weak", team::AccountAt(0, "Cash", "mine")); }},
    };
    for (const Row& row : rows) {
        WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
        SignedIn mine("me", "pw");
        SignedIn theirs("boss", "bosspw");
        CHECK(theirs.session.DeleteAccount("weak", 0).done());
        if (row.another)
            CHECK(theirs.session.AddAccount("weak", Account("New", "theirs")).done());
        int asked = 0;
        mine.session.SetConflictHandler([&](const Conflict&) {
            ++asked;
            return ConflictChoice::Overwrite;
        });
        const std::string before = ReadFile(TableFile);
        const ChangeResult result = row.change(mine.session);
        if (result.reason != ChangeResult::Reason::AccountGone)
            storecheck::Fail(__FILE__, __LINE__, std::string(row.what) + ": " + result.message);
        CHECK(result.outcome == ChangeResult::Outcome::Refused);
        CHECK_EQ(result.message,
                 std::string("The bank account Cash of weak is no longer in Gatekeep.acl: someone "
                             "else deleted or renamed it meanwhile") +
                     (row.another ? ", and the account New stands in its place now" : "") +
                     ". Nothing was changed.");
        CHECK_EQ(asked, 0);
        CHECK_EQ(ReadFile(TableFile), before);
        // The window is shown the file's table.
        CHECK(result.refreshed);
        CHECK_EQ(mine.session.Table().Bytes(), before);
    }
}

// An answer holds for the file it was given on: changed again meanwhile,
// the change is made again on it and the person asked again.
TEST(AnAnswerHoldsOnlyForTheFileItWasGivenOn)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    theirs.session.SetWriterWait(std::chrono::milliseconds(0));
    CHECK(mine.session.DeleteUser("weak").done());
    CHECK(theirs.session
              .SaveChanges(theirs.session.loadForEditing("weak"), Plain("weak", "newpw", "/w"))
              .done());
    std::vector<ConflictChoice> answers = {ConflictChoice::Overwrite, ConflictChoice::Cancel};
    std::size_t asked = 0;
    bool grantMeanwhile = true;
    mine.session.SetConflictHandler([&](const Conflict& conflict) {
        CHECK_EQ(conflict.user, std::string("weak"));
        // While the question is open, someone grants weak a right.
        if (std::exchange(grantMeanwhile, false))
            CHECK(theirs.session
                      .SaveChanges(theirs.session.loadForEditing("weak"),
                                   Plain("weak", "newpw", "/w", Rights{R::AddRecord}))
                      .done());
        return answers.at(asked++);
    });
    const std::string granted = [&] {
        const ChangeResult result = mine.session.Save();
        CHECK(result.outcome == ChangeResult::Outcome::Cancelled);
        return ReadFile(TableFile);
    }();
    CHECK_EQ(asked, std::size_t(2));
    const UserTable file = OnDisk();
    CHECK(file.FindUser("weak") != 0);
    CHECK_EQ(storecheck::DecodedRights(file.Slot(file.FindUser("weak"))), std::string("111101"));
    CHECK_EQ(granted, ReadFile(TableFile));

    // Asked again on the file as it is, the answer given there holds.
    answers = {ConflictChoice::Overwrite};
    asked = 0;
    CHECK(mine.session.Save().done());
    CHECK_EQ(asked, std::size_t(1));
    CHECK_EQ(OnDisk().FindUser("weak"), 0);
}

// Modify gives no account a name the user has already, letter case
// ignored, as New refuses it; two accounts of one name a table holds from
// elsewhere stay, and each is changed by its own entry.
TEST(AccountsOfOneName)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    {
        SignedIn mine("me", "pw");
        CHECK(mine.session.AddAccount("weak", Account("Loan", "")).done());
        const std::string before = ReadFile(TableFile);
        const ChangeResult renamed =
            mine.session.ModifyAccount("weak", team::AccountAt(1, "cASH", "x"));
        CHECK(renamed.reason == ChangeResult::Reason::DuplicateAccount);
        CHECK_EQ(renamed.message, std::string("The cASH is assigned, please Create another one."));
        CHECK_EQ(ReadFile(TableFile), before);
        // Its own name in another spelling is no other account's.
        CHECK(mine.session.ModifyAccount("weak", team::AccountAt(0, "CASH", "Till")).done());
    }

    UserTable table = OnDisk();
    const int weak = table.FindUser("weak");
    StoreEncoded(table.Slot(weak).Accounts[0].AccountName, "Cash");
    StoreEncoded(table.Slot(weak).Accounts[1].AccountName, "Cash");
    StoreEncoded(table.Slot(weak).Accounts[1].AccountDescription, "second");
    SaveUserTable(table, TableFile);
    SignedIn mine("me", "pw");
    const std::vector<AccountData> shown = mine.session.Accounts("weak");
    CHECK_EQ(shown.size(), std::size_t(2));
    CHECK(mine.session.ModifyAccount("weak", team::AccountAt(1, "Cash", "changed")).done());
    CHECK_EQ(Decoded(OnDisk().Slot(weak).Accounts[0].AccountDescription), std::string("Till"));
    CHECK_EQ(Decoded(OnDisk().Slot(weak).Accounts[1].AccountDescription), std::string("changed"));
    CHECK(mine.session.DeleteAccount("weak", 1).done());
    CHECK_EQ(EntryName(OnDisk(), "weak", 0), std::string("Cash"));
    CHECK(EntryName(OnDisk(), "weak", 1).empty());
}

// What a window asks before and after the new account dialog refuses as
// the change itself would, in the same words, and the asking changes and
// records nothing.
TEST(ANewAccountIsCheckedAsAddAccountChecksIt)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    const std::string before = ReadFile(TableFile);
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
            team::AccountAt(static_cast<int>(full.size()), "A" + std::to_string(full.size()), ""));
    const Row rows[] = {
        {Session::checkAccountName("cASH", shown),
         mine.session.AddAccount("weak", Account("cASH", ""))},
        {Session::checkAccountName(""), mine.session.AddAccount("weak", Account("", ""))},
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
    CHECK_EQ(ReadFile(TableFile), before);
}

// Of two users of one name in a table made elsewhere, Save Changes edits
// the one Modify loaded, and the other stays as it was.
TEST(SaveChangesEditsTheTwinLoaded)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    UserTable table = OnDisk();
    const int weak = table.FindUser("weak");
    CHECK(weak > 0 && weak < 4);
    table.Slot(4) = table.Slot(weak);
    StoreEncoded(table.Slot(4).Password, "twinpw");
    SaveUserTable(table, TableFile);

    SignedIn mine("me", "pw");
    const LoadedUser loaded = mine.session.loadForEditing("weak");
    CHECK(!loaded.empty());
    CHECK(loaded == mine.session.loadForEditing("weak"));
    CHECK(loaded != mine.session.loadForEditing("me"));
    CHECK(mine.session.SaveChanges(loaded, Plain("weak2", "pw2", "/w")).done());
    const UserTable file = OnDisk();
    const int twin = LookUpUser(file, "weak");
    CHECK(twin != 0);
    CHECK_EQ(Decoded(file.Slot(twin).Password), std::string("twinpw"));
    const int changed = LookUpUser(file, "weak2");
    CHECK(changed != 0);
    CHECK_EQ(Decoded(file.Slot(changed).Password), std::string("pw2"));
}

// A table renamed away under an open session is written anew by its next
// save, which says so; nothing waits on a file that is not there.
TEST(AVanishedTableIsWrittenAnew)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    CHECK(mine.session.DeleteUser("weak").done());
    CHECK(::rename(TableFile.c_str(), "elsewhere.acl") == 0);
    CHECK(mine.session.AddUser(Plain("new", "npw", "/n")).done());
    const ChangeResult saved = mine.session.Save();
    CHECK(saved.done());
    CHECK_EQ(saved.warning, std::string("Gatekeep.acl was gone (removed or renamed by someone "
                                        "else): it has been written anew, with the table as "
                                        "shown here."));
    CHECK_EQ(ReadFile(TableFile), mine.session.Table().Bytes());
    CHECK(Names(mine.session) == std::vector<std::string>({"boss", "me", "new"}));
    struct stat st
    {
    };
    CHECK(::stat(TableFile.c_str(), &st) == 0 && (st.st_mode & 07777) == 0600);
    CHECK(!mine.session.TableChanged());
    CHECK(mine.session.AddAccount("new", Account("Cash", "")).done());
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
             return s.SaveChanges(s.loadForEditing("weak"), Plain(" BOSS ", "x", "/w"));
         }},
        {"a rightless user renamed to the administrator's name, without AddUsers",
         {R::ModifyUsers, R::DeleteUsers},
         [](Session& s) {
             return s.SaveChanges(s.loadForEditing("weak"), Plain("boss", "mine", "/w"));
         }},
        {"Add of the name of a user behind a free slot", all,
         [](Session& s) {
             // boss, (free), me, weak: weak stands behind the gap.
             return s.AddUser(Plain("Weak", "x", "/x"));
         }},
    };
    for (const Row& row : rows) {
        WriteTeam(row.myRights);
        if (std::string(row.what).find("free slot") != std::string::npos) {
            UserTable table = OnDisk();
            table.Slot(4) = table.Slot(3);
            table.Slot(3) = table.Slot(2);
            table.Slot(2) = BlankUser;
            SaveUserTable(table, TableFile);
        }
        const std::string before = ReadFile(TableFile);
        SignedIn mine("me", "pw");
        const ChangeResult result = row.change(mine.session);
        if (result.reason != ChangeResult::Reason::DuplicateUser ||
            result.message != "User already exist.")
            storecheck::Fail(__FILE__, __LINE__, std::string(row.what) + ": " + result.message);
        CHECK(mine.session.Save().done());
        CHECK_EQ(ReadFile(TableFile), before);
    }

    // Keeping one's own name, in another spelling, is no twin.
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    CHECK(mine.session.SaveChanges(mine.session.loadForEditing("weak"), Plain("WEAK", "x", "/w"))
              .done());
}

TEST(AFailedSaveLeavesTableAndFileAsTheyWere)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    storecheck::RunAsOrdinaryUser([] {
        Session session(TableFile);
        session.LoadTable();
        session.SignIn("me", "pw");
        CHECK(session.AddUser(Plain("new", "npw", "/n")).done());
        const std::string memoryBefore = session.Table().Bytes();
        const std::string fileBefore = ReadFile(TableFile);
        CHECK(::chmod(TableFile.c_str(), 0444) == 0);
        const ChangeResult failed = session.AddAccount("weak", Account("Loan", ""));
        CHECK(failed.outcome == ChangeResult::Outcome::Failed);
        CHECK_EQ(failed.errorCode, 5);
        CHECK_EQ(failed.message, std::string("File access denied"));
        CHECK(session.Table().Bytes() == memoryBefore);
        CHECK(session.TableChanged());
        CHECK_EQ(ReadFile(TableFile), fileBefore);
        // The same account again is one new attempt, not a duplicate.
        CHECK(::chmod(TableFile.c_str(), 0600) == 0);
        CHECK(session.AddAccount("weak", Account("Loan", "")).done());
        CHECK(Decoded(session.Table().Slot(3).Accounts[1].AccountName) == "Loan");
        CHECK(Decoded(session.Table().Slot(3).Accounts[2].AccountName).empty());
    });
}

namespace {

struct Events : AuditSink
{
    std::vector<AuditEvent> seen;
    void Record(const AuditEvent& event) override { seen.push_back(event); }
};

int FailTheTemporaryFile(tablefile_testing::SaveStep step, const std::string&)
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
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    UserTable older;
    LoadUserTable(older, TableFile);
    older.RemoveUserSlot(3);
    older.ClearEmptySlots();
    const std::string backup = older.Bytes();
    const bool root = ::geteuid() == 0;
    CHECK(::chmod(TableFile.c_str(), 0640) == 0);
    if (root)
        CHECK(::chown(TableFile.c_str(), 0, storecheck::OrdinaryGid()) == 0);
    struct stat before
    {
    };
    CHECK(::stat(TableFile.c_str(), &before) == 0);

    Events events;
    Session session(TableFile, &events);
    session.LoadTable();
    CHECK(session.SignIn("me", "pw") == Session::SignInResult::SignedIn);
    CHECK(session.AddUser(Plain("waiting", "wpw", "/x")).done());
    const std::string file = ReadFile(TableFile);

    // Not a table of five users as the store reads it: refused, naming
    // every fault as check does.
    UserTable twins = older;
    twins.StoreNewUser(storecheck::PlainRecord(" BOSS", "x", "/x", "111111"));
    for (const std::string& unsound : {backup.substr(0, 1000), twins.Bytes(), std::string()}) {
        const ChangeResult refused = session.restore(unsound, "old.acl");
        std::string words = "Nothing was restored: the backup is not a sound table.";
        for (const std::string& fault : CheckTable(unsound).faults)
            words += " " + fault;
        CHECK(refused.outcome == ChangeResult::Outcome::Refused);
        CHECK(refused.reason == ChangeResult::Reason::UnsoundTable);
        CHECK_EQ(refused.message, words);
        CHECK_EQ(ReadFile(TableFile), file);
        CHECK(session.Table().FindUser("waiting") > 0);
    }

    // A save that fails on the way leaves the old table.
    tablefile_testing::SaveHook = FailTheTemporaryFile;
    const ChangeResult failed = session.restore(backup, "old.acl");
    tablefile_testing::SaveHook = nullptr;
    CHECK(failed.outcome == ChangeResult::Outcome::Failed);
    CHECK_EQ(ReadFile(TableFile), file);
    CHECK(storecheck::ListWorkingDir() == std::vector<std::string>({TableFile}));

    events.seen.clear();
    const ChangeResult done = session.restore(backup, "old.acl");
    CHECK(done.done() && done.refreshed);
    CHECK_EQ(ReadFile(TableFile), backup);
    CHECK(Names(session) == std::vector<std::string>({"boss", "me"}));
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
    boss.LoadTable();
    CHECK(boss.SignIn("boss", "bosspw") == Session::SignInResult::SignedIn);
    CHECK(boss.SaveChanges(boss.loadForEditing("me"),
                           Plain("me", "pw", "/m", Rights{R::AddUsers, R::ModifyUsers}))
              .done());
    const std::string revoked = ReadFile(TableFile);
    const ChangeResult refused = session.restore(file, "old.acl");
    CHECK(refused.reason == ChangeResult::Reason::MissingRight);
    CHECK_EQ(refused.message, std::string("You may not restore the table from a backup: that "
                                          "needs the DeleteUsers right."));
    CHECK_EQ(ReadFile(TableFile), revoked);

    // A backup without the restorer in it, as they signed in, signs them out.
    CHECK(boss.restore(backup, "old.acl").done());
    CHECK(!boss.SignedOut());
    CHECK(boss.restore(file, "old.acl").done());
    UserTable without = older;
    without.RemoveUserSlot(1);
    without.ClearEmptySlots();
    CHECK(boss.restore(without.Bytes(), "old.acl").done());
    CHECK(boss.SignedOut());
}

namespace {

int FailTheFolderSync(tablefile_testing::SaveStep step, const std::string&)
{
    return step == tablefile_testing::SaveStep::FolderSync ? EIO : 0;
}

} // namespace

// A step after the new table is in the file (the folder's sync) that fails
// makes no failed save: the file holds the change, and the result says what
// failed after it.
TEST(AFaultAfterTheNewTableIsInTheFileIsTheDoneResultsWarning)
{
    const std::string late = IoErrorText(IoCodeFromErrno(EIO));
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
             s.AddUser(Plain("new", "npw", "/n"));
             return s.Save();
         },
         "The change has been saved, but a step after it failed: "},
        {"account change", false,
         [](Session& s) {
             s.AddUser(Plain("new", "npw", "/n"));
             return s.AddAccount("new", Account("Loan", ""));
         },
         "The change has been saved, but a step after it failed: "},
        {"restore", false,
         [](Session& s) {
             UserTable backup = s.Table();
             backup.StoreNewUser(storecheck::PlainRecord("new", "npw", "/n", "111111"));
             return s.restore(backup.Bytes(), "old.acl");
         },
         "The table has been restored, but a step after it failed: "},
        {"first use", true, [](Session& s) { return s.CreateFirstUser(Plain("new", "npw", "/")); },
         "The first login ID has been saved, but a step after it failed: "},
    };
    for (const Row& row : rows) {
        storecheck::ClearWorkingDir();
        Session session(TableFile);
        if (!row.firstUse) {
            WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
            session.LoadTable();
            CHECK(session.SignIn("me", "pw") == Session::SignInResult::SignedIn);
        }
        tablefile_testing::SaveHook = FailTheFolderSync;
        const ChangeResult result = row.make(session);
        tablefile_testing::SaveHook = nullptr;
        if (!result.done() || result.warning != row.said + late)
            storecheck::Fail(__FILE__, __LINE__,
                             std::string(row.name) + ": \"" + result.warning + "\"");
        CHECK(TableFromBytes(ReadFile(TableFile)) == session.Table());
        CHECK(session.Table().FindUser("new") > 0);
        CHECK(session.SignedIn());
    }
}

// A table that cannot be read is the Failed result of the load, a create or
// a reload, with the file error's code and text; the table shown stays.
TEST(ALoadThatFailsIsAFailedResult)
{
    WriteTeam(Rights::All());
    Session session(TableFile);
    CHECK(session.LoadTable().done());
    const std::string shown = session.Table().Bytes();
    const std::string team = ReadFile(TableFile);
    WriteFile(TableFile, team.substr(0, 1000));
    for (ChangeResult (Session::*load)() :
         {&Session::LoadTable, &Session::CreateTable, &Session::Reload}) {
        const ChangeResult failed = (session.*load)();
        CHECK(failed.outcome == ChangeResult::Outcome::Failed);
        CHECK_EQ(failed.errorCode, 100);
        CHECK_EQ(failed.message, std::string("Read beyond end of file"));
        CHECK_EQ(session.Table().Bytes(), shown);
    }
    ::unlink(TableFile.c_str());
    CHECK(::mkdir(TableFile.c_str(), 0700) == 0);
    const ChangeResult created = session.CreateTable();
    CHECK(created.outcome == ChangeResult::Outcome::Failed);
    CHECK_EQ(created.errorCode, 5);
    CHECK(::rmdir(TableFile.c_str()) == 0);
}

TEST(FirstUseCreatesTheOnlyUserAndSignsThemIn)
{
    // Where nothing is, and in the empty file a start without a table
    // leaves; the marker goes once the user exists.
    for (const bool emptyFile : {false, true}) {
        storecheck::ClearWorkingDir();
        if (emptyFile)
            WriteFile(TableFile, "");
        WriteFile(Session::FirstUseMarker, "");
        CHECK(Session::FirstUseDue("."));
        Session session(TableFile);
        // Name and password are trimmed, and all six rights given whatever
        // was asked.
        const ChangeResult made = session.CreateFirstUser(Plain(" chief ", "pw\t", "/"));
        CHECK(made.done());
        CHECK(session.SignedIn() && session.MayEditRights() && session.MayKeepAccounts());
        CHECK_EQ(ReadFile(TableFile).size(), UserTableFileSize);
        CHECK(Names(session) == std::vector<std::string>({"chief"}));
        CHECK(session.Me().rights == Rights::All());
        CHECK_EQ(session.Me().password, std::string("pw"));
        CHECK(!storecheck::FileExists(Session::FirstUseMarker));
        CHECK(!Session::FirstUseDue("."));

        Session again(TableFile);
        CHECK(again.CreateFirstUser(Plain("other", "pw", "/")).reason ==
              ChangeResult::Reason::NotFirstUse);
    }

    // The first-use rules, in the dialog's order.
    storecheck::ClearWorkingDir();
    struct Row
    {
        UserData user;
        ChangeResult::Reason reason;
        const char* message;
    };
    const Row rows[] = {
        {Plain(" ", "pw", "/"), ChangeResult::Reason::EmptyField,
         "Please type in your new ID and Password."},
        {Plain("chief", "\t", "/nowhere/at/all"), ChangeResult::Reason::EmptyField,
         "Please type in your new ID and Password."},
        {Plain("chief", "pw", "/nowhere/at/all"), ChangeResult::Reason::BadDataPath,
         "Please give a correct path for your data files."},
        {Plain("chief", "pw", ""), ChangeResult::Reason::BadDataPath,
         "Please give a correct path for your data files."},
    };
    for (const Row& row : rows) {
        Session session(TableFile);
        const ChangeResult refused = session.CreateFirstUser(row.user);
        CHECK(refused.reason == row.reason);
        CHECK_EQ(refused.message, std::string(row.message));
        CHECK(!storecheck::FileExists(TableFile));
        // The same rules asked for alone, as the command line's init asks
        // before it reads a password.
        const std::optional<ChangeResult> ruled = Session::firstUserRefusal(row.user);
        CHECK(ruled && ruled->outcome == ChangeResult::Outcome::Refused);
        CHECK(ruled && ruled->reason == row.reason && ruled->message == row.message);
    }
    CHECK(!Session::firstUserRefusal(Plain(" chief ", "pw", "/")));
    CHECK(!Session::firstUserRefusal(Plain("chief", "", "/"), false));
    CHECK(Session::firstUserRefusal(Plain("chief", "", "/"))->reason ==
          ChangeResult::Reason::EmptyField);
    CHECK(Session::firstUserRefusal(Plain("chief", "", "/nowhere/at/all"), false)->reason ==
          ChangeResult::Reason::BadDataPath);
    CHECK(!storecheck::FileExists(TableFile));
}

TEST(NamesAreLookedUpAsTheWindowsFindThem)
{
    WriteFile(TableFile, TestData("three-users.acl"));
    Session session(TableFile);
    session.LoadTable();
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
        CHECK_EQ(LookUpUser(table, row.typed), row.slot);
        CHECK_EQ(LookUpUser(session.Table(), row.typed), row.slot);
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
        {" Ren\xe9"
         "e ",
         "GESCH\xe4"
         "FT",
         0},
        // Only a to z are folded.
        {" Ren\xe9"
         "e ",
         "Gesch\xc4"
         "ft",
         -1},
        // Accounts belong to the stored name, not to what a person types.
        {"Ren\xe9"
         "e",
         "Gesch\xe4"
         "ft",
         -1},
        {"nobody", "Checking", -1},
    };
    for (const AccountRow& row : accounts) {
        if (session.LookUpAccount(row.user, row.account) != row.entry)
            storecheck::Fail(__FILE__, __LINE__,
                             row.user + "/" + row.account + ": expected entry " +
                                 std::to_string(row.entry) + ", got " +
                                 std::to_string(session.LookUpAccount(row.user, row.account)));
    }
}

TEST(AnAccountIsFoundByItsExactNameBeforeAnotherSpelling)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    UserTable table;
    LoadUserTable(table, TableFile);
    // Two spellings the add rule would refuse, as a damaged or older file
    // may hold them.
    StoreEncoded(table.Slot(3).Accounts[1].AccountName, "CASH");
    SaveUserTable(table, TableFile);
    Session session(TableFile);
    session.LoadTable();
    CHECK_EQ(session.LookUpAccount("weak", "CASH"), 1);
    CHECK_EQ(session.LookUpAccount("weak", "Cash"), 0);
    CHECK_EQ(session.LookUpAccount("weak", "cash"), 0);
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
        {"weak", " WEAK ", true},      {"weak", "weak2", false}, {"Ren\xe9", "REN\xe9", true},
        {"Ren\xe9", "Ren\xc9", false}, {"a b", "A B", true},     {"ab", "a b", false},
    };
    for (const Row& row : rows) {
        if (SameLoginName(row.a, row.b) != row.same || SameLoginName(row.b, row.a) != row.same)
            storecheck::Fail(__FILE__, __LINE__, "\"" + row.a + "\" against \"" + row.b + "\"");
    }
}

TEST(UserDetailsAreSeenWithModifyUsersOrDeleteUsers)
{
    for (const auto& [label, rights] : team::UserRightCombinations()) {
        WriteTeam(rights);
        Session session(TableFile);
        session.LoadTable();
        CHECK(!session.MaySeeUserDetails());
        CHECK(session.SignIn("me", "pw") == Session::SignInResult::SignedIn);
        const bool expected = rights.has(R::ModifyUsers) || rights.has(R::DeleteUsers);
        if (session.MaySeeUserDetails() != expected)
            storecheck::Fail(__FILE__, __LINE__, std::string("as [") + label + "]");
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
            WriteTeam(Rights::All());
            Session session(TableFile);
            session.LoadTable();
            CHECK(session.SignIn("me", "pw") == Session::SignInResult::SignedIn);
            const std::string before = ReadFile(TableFile);
            const std::optional<UserData> user = session.User(editing);
            CHECK(user.has_value());
            UserData changed = *user;
            changed.password = typed;
            const ChangeResult result =
                session.SaveChanges(session.loadForEditing(editing), changed);
            if (result.outcome != ChangeResult::Outcome::Refused ||
                result.reason != ChangeResult::Reason::ReservedPassword ||
                result.message != reserved)
                storecheck::Fail(__FILE__, __LINE__,
                                 std::string(editing) + " given " + typed + ": " + result.message);
            CHECK_EQ(ReadFile(TableFile), before);
            CHECK_EQ(session.Table().Bytes(), before);
        }
    }
    // A blank before it makes another password.
    WriteTeam(Rights::All());
    Session session(TableFile);
    session.LoadTable();
    session.SignIn("me", "pw");
    CHECK(session.SaveChanges(session.loadForEditing("weak"), Plain("weak", " NewPass", "/w"))
              .done());
}

TEST(ARefreshShowsTheFilesTableWithTheWaitingChangesMadeAgainOnIt)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    CHECK(!mine.session.refresh().refreshed);

    CHECK(mine.session.DeleteUser("weak").done());
    CHECK(mine.session.AddUser(Plain("new", "npw", "/n")).done());
    CHECK(theirs.session.AddUser(Plain("bob", "bobpw", "/bob")).done());
    CHECK(theirs.session.AddUser(Plain("NEW", "theirs", "/t")).done());
    CHECK(theirs.session.Save().done());
    const std::string theirFile = ReadFile(TableFile);

    const ChangeResult shown = mine.session.refresh();
    CHECK(shown.done());
    CHECK(shown.refreshed);
    CHECK_EQ(
        shown.warning,
        std::string("Someone else has changed Gatekeep.acl: it is shown as it is now, and what "
                    "you changed since your last save was made again on it, but for:\n"
                    "Not saved, adding the user new: User already exist."));
    CHECK(Names(mine.session) == std::vector<std::string>({"boss", "me", "bob", "NEW"}));
    CHECK(mine.session.TableChanged());
    CHECK_EQ(ReadFile(TableFile), theirFile);
    // Shown once: the next look finds nothing new.
    CHECK(!mine.session.refresh().refreshed);

    CHECK(mine.session.Save().done());
    CHECK_EQ(OnDisk().FindUser("weak"), 0);
    CHECK_EQ(OnDisk().FindUser("bob"), 3);
    // Its own save is nothing new to the session.
    CHECK(!mine.session.refresh().refreshed);
    CHECK(!mine.session.TableChanged());
}

TEST(ADeletionShownAnotherVersionOfItsUserIsStillAskedAboutAtTheSave)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    std::vector<std::string> asked;
    mine.session.SetConflictHandler([&](const Conflict& conflict) {
        asked.push_back(conflict.user);
        return ConflictChoice::Cancel;
    });
    CHECK(mine.session.DeleteUser("weak").done());
    CHECK(theirs.session
              .SaveChanges(theirs.session.loadForEditing("weak"), Plain("weak", "theirs", "/w"))
              .done());
    const std::string theirFile = ReadFile(TableFile);

    const ChangeResult shown = mine.session.refresh();
    CHECK(shown.refreshed);
    CHECK_EQ(shown.warning, std::string());
    CHECK(Names(mine.session) == std::vector<std::string>({"boss", "me"}));
    // The person decided on weak as they were: the save asks, as it would
    // have without the refresh.
    CHECK(mine.session.Save().outcome == ChangeResult::Outcome::Cancelled);
    CHECK(asked == std::vector<std::string>({"weak"}));
    CHECK_EQ(ReadFile(TableFile), theirFile);
}

TEST(ARefreshFollowsTheRightsAndTheSignInTheFileHolds)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    CHECK(mine.session.AddUser(Plain("new", "npw", "/n")).done());
    CHECK(theirs.session
              .SaveChanges(theirs.session.loadForEditing("me"),
                           Plain("me", "pw", "/m", Rights{R::ModifyUsers}))
              .done());
    ChangeResult shown = mine.session.refresh();
    CHECK(shown.refreshed);
    CHECK(!mine.session.MayAdd() && mine.session.MayModify());
    CHECK_EQ(
        shown.warning,
        std::string("Someone else has changed Gatekeep.acl: it is shown as it is now, and what "
                    "you changed since your last save was made again on it, but for:\n"
                    "Not saved, adding the user new: You may not add users: that needs the "
                    "AddUsers right."));
    CHECK(!mine.session.TableChanged());

    CHECK(theirs.session.DeleteUser("me").done());
    CHECK(theirs.session.Save().done());
    shown = mine.session.refresh();
    CHECK(shown.outcome == ChangeResult::Outcome::Refused);
    CHECK(shown.reason == ChangeResult::Reason::SignedOut);
    CHECK_EQ(shown.message, mine.session.SignedOutMessage());
    CHECK(mine.session.SignedOut());
}

TEST(ARefreshLeavesAFileAnotherWriterHoldsForTheNextLook)
{
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
    SignedIn mine("me", "pw");
    SignedIn theirs("boss", "bosspw");
    {
        const Session::WriterHold writing = theirs.session.HoldWriterLock();
        CHECK(theirs.session.AddUser(Plain("bob", "bobpw", "/bob")).done());
        CHECK(theirs.session.Save().done());
        CHECK(!mine.session.refresh().refreshed);
        CHECK(Names(mine.session) == std::vector<std::string>({"boss", "me", "weak"}));
    }
    CHECK(mine.session.refresh().refreshed);
    CHECK(Names(mine.session) == std::vector<std::string>({"boss", "me", "weak", "bob"}));
}

// The editor's placeholder, and the eight characters of it the table would
// keep, in any letter case, reach nobody's record: not by Add, not by Save
// Changes. A blank before it makes another password.
TEST(ThePlaceholderPasswordReachesNoRecord)
{
    const char* const reserved[] = {"NewPassWord", "newpassword", "NEWPASSW", "NewPassW",
                                    "NewPassWx"};
    for (const char* password : reserved) {
        WriteTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers});
        const std::string before = ReadFile(TableFile);
        Session session(TableFile);
        session.LoadTable();
        CHECK(session.SignIn("me", "pw") == Session::SignInResult::SignedIn);
        const ChangeResult added = session.AddUser(Plain("copy", password, "/c"));
        CHECK(added.reason == ChangeResult::Reason::ReservedPassword);
        CHECK_EQ(added.message,
                 std::string("The NewPassWord is a reserved word, please try another one."));
        CHECK(!session.TableChanged());
        const ChangeResult saved =
            session.SaveChanges(session.loadForEditing("weak"), Plain("weak", password, "/w"));
        CHECK(saved.reason == ChangeResult::Reason::ReservedPassword);
        CHECK_EQ(ReadFile(TableFile), before);
    }
    WriteTeam(Rights{R::AddUsers, R::ModifyUsers});
    Session session(TableFile);
    session.LoadTable();
    CHECK(session.SignIn("me", "pw") == Session::SignInResult::SignedIn);
    CHECK(session.AddUser(Plain("copy", " NewPass", "/c")).done());
    CHECK(
        session.SaveChanges(session.loadForEditing("weak"), Plain("weak", "NewPass", "/w")).done());
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
        WriteTeam(Rights{});
        const std::string before = ReadFile(TableFile);
        Session session(TableFile);
        session.LoadTable();
        CHECK(session.SignIn("me", "pw") == Session::SignInResult::SignedIn);
        const ChangeResult result = session.changeOwnPassword(row.old, row.fresh, row.again);
        CHECK(result.outcome == ChangeResult::Outcome::Refused);
        CHECK(result.reason == row.reason);
        CHECK_EQ(ReadFile(TableFile), before);
    }
    for (const auto& [label, rights] : team::UserRightCombinations()) {
        WriteTeam(rights);
        Session session(TableFile);
        session.LoadTable();
        CHECK(session.SignIn("me", "pw") == Session::SignInResult::SignedIn);
        if (rights.has(R::AddUsers))
            CHECK(session.AddUser(Plain("new", "npw", "/n")).done());
        const ChangeResult result = session.changeOwnPassword("pw", "fresh", "fresh");
        CHECK(result.done());
        CHECK(!session.TableChanged());
        CHECK(!session.SignedOut());
        CHECK_EQ(LookUpUser(session.Table(), "me"), 2);
        CHECK_EQ(Decoded(session.Table().Slot(2).Password), std::string("fresh"));
        CHECK_EQ(team::Flags(session.Me().rights), team::Flags(rights));
        // Still signed in as the record it made: the next change goes on.
        CHECK(session.changeOwnPassword("fresh", "again", "again").done());
        Session fresh(TableFile);
        fresh.LoadTable();
        CHECK(fresh.SignIn("me", "again") == Session::SignInResult::SignedIn);
        CHECK_EQ(fresh.KnowsUser("new"), rights.has(R::AddUsers));
    }
}
