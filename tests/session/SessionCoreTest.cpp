#include "../store/StoreCheck.h"
#include "Team.h"

#include "session/Session.h"
#include "store/IoError.h"
#include "store/Scramble.h"

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

using storecheck::ReadFile;
using storecheck::TableFile;
using storecheck::TestData;
using storecheck::WriteFile;
using team::Account;
using team::Plain;

namespace {

void WriteTeam(const std::string& myRights)
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
    // The rights combinations (letters of A, M, D) that may make it.
    std::set<std::string> allowedFor;
    ChangeResult (*make)(Session&);
    // What the table holds once it is made.
    bool (*made)(const Session&);
};

const std::vector<Change>& Changes()
{
    static const std::vector<Change> changes = {
        {"add user",
         {"A", "AM", "AD", "AMD"},
         [](Session& s) { return s.AddUser(Plain("new", "npw", "/n")); },
         [](const Session& s) { return s.Table().FindUser("new") == 4; }},
        {"add user with a right",
         {"AM", "AMD"},
         [](Session& s) { return s.AddUser(Plain("new", "npw", "/n", "011111")); },
         [](const Session& s) { return s.Table().FindUser("new") == 4; }},
        {"delete user",
         {"D", "AD", "MD", "AMD"},
         [](Session& s) { return s.DeleteUser("weak"); },
         [](const Session& s) { return s.Table().FindUser("weak") == 0; }},
        {"save changes: new password",
         {"M", "AM", "MD", "AMD"},
         [](Session& s) { return s.SaveChanges("weak", 3, Plain("weak", "newpw", "/w")); },
         [](const Session& s) {
             return Decoded(s.Table().Slot(3).Password) == "newpw" &&
                    Decoded(s.Table().Slot(3).Accounts[0].AccountName) == "Cash";
         }},
        {"save changes: a right granted",
         {"AM", "AMD"},
         [](Session& s) {
             return s.SaveChanges("weak", 3, Plain("weak", "newpw", "/w", "111110"));
         },
         [](const Session& s) { return storecheck::DecodedRights(s.Table().Slot(3)) == "111110"; }},
        {"save changes: take over a stronger user",
         {"AM", "AMD"},
         [](Session& s) { return s.SaveChanges("boss", 1, Plain("boss", "mine", "/b", "000000")); },
         [](const Session& s) { return Decoded(s.Table().Slot(3).Password) == "mine"; }},
        {"new account",
         {"MD", "AMD"},
         [](Session& s) { return s.AddAccount("weak", Account("Loan", "")); },
         [](const Session& s) {
             return Decoded(s.Table().Slot(3).Accounts[1].AccountName) == "Loan";
         }},
        {"modify account",
         {"MD", "AMD"},
         [](Session& s) { return s.ModifyAccount("weak", 0, Account("Cash", "Safe")); },
         [](const Session& s) {
             return Decoded(s.Table().Slot(3).Accounts[0].AccountDescription) == "Safe";
         }},
        {"delete account",
         {"MD", "AMD"},
         [](Session& s) { return s.DeleteAccount("weak", 0); },
         [](const Session& s) { return s.Table().Slot(3).Accounts[0].AccountName.empty(); }},
    };
    return changes;
}

} // namespace

TEST(EveryChangeIsMadeOnlyWithItsRights)
{
    for (const std::string rights : {"", "A", "M", "D", "AM", "AD", "MD", "AMD"}) {
        for (const Change& change : Changes()) {
            WriteTeam(rights);
            const std::string fileBefore = ReadFile(TableFile);
            Session session(TableFile);
            session.LoadTable();
            CHECK(session.SignIn("me", "pw") == Session::SignInResult::SignedIn);
            const std::string tableBefore = session.Table().Bytes();

            const ChangeResult result = change.make(session);
            const bool allowed = change.allowedFor.count(rights) > 0;
            const std::string row = std::string(change.name) + " as [" + rights + "]";
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
    WriteTeam("AMD");
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
        {session.SaveChanges("", 0, Plain("weak", "pw2", "/w")),
         ChangeResult::Reason::NothingLoaded,
         "No user has been loaded for editing: select a user and press Modify first."},
        {session.SaveChanges("gone", 2, Plain("gone", "pw2", "/w")),
         ChangeResult::Reason::NoSuchUser,
         "The user being edited no longer exists: load it again with Modify."},
        {session.AddAccount("weak", Account("cASH", "")), ChangeResult::Reason::DuplicateAccount,
         "The cASH is assigned, please Create another one."},
        {session.ModifyAccount("weak", 4, Account("x", "")), ChangeResult::Reason::NoSuchAccount,
         "There is no such bank account."},
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
    WriteTeam("AMD");
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
                         "") == Session::SignInResult::WrongPassword);
    CHECK(!session.SignedIn());
    CHECK(session.SignIn(" Ren\xe9"
                         "e\t",
                         "caf\xe9\x80") == Session::SignInResult::SignedIn);
    CHECK_EQ(Decoded(session.CurrentUser().LoginName), std::string(" Ren\xe9"
                                                                   "e "));
    CHECK(session.MayDelete() && !session.MayModify() && !session.MayAdd());
}

TEST(SaveChangesKeepsAccountsAndClearsPendingChanges)
{
    WriteTeam("AMD");
    Session session(TableFile);
    session.LoadTable();
    session.SignIn("me", "pw");
    CHECK(session.DeleteUser("boss").done());
    CHECK(session.TableChanged());
    // weak moved from slot 3 to 2: found again by name.
    CHECK(session.SaveChanges("weak", 3, Plain("weak2", "pw2", "/w2")).done());
    CHECK(!session.TableChanged());
    CHECK(Names(session) == std::vector<std::string>({"me", "weak2"}));
    CHECK_EQ(Decoded(session.Table().Slot(2).Accounts[0].AccountName), std::string("Cash"));
    CHECK_EQ(ReadFile(TableFile), session.Table().Bytes());
}

TEST(AChangeOnDiskIsNeverOverwrittenSilently)
{
    WriteTeam("AMD");
    Session mine(TableFile);
    mine.LoadTable();
    mine.SignIn("me", "pw");
    Session theirs(TableFile);
    theirs.LoadTable();
    theirs.SignIn("boss", "bosspw");
    CHECK(theirs.AddAccount("weak", Account("Theirs", "")).done());
    const std::string theirFile = ReadFile(TableFile);

    // Without anyone to ask, nothing is written.
    CHECK(mine.AddAccount("weak", Account("Mine", "")).outcome == ChangeResult::Outcome::Cancelled);
    CHECK_EQ(ReadFile(TableFile), theirFile);

    int asked = 0;
    mine.SetConflictHandler([&] {
        ++asked;
        return ConflictChoice::Cancel;
    });
    CHECK(mine.AddAccount("weak", Account("Mine", "")).outcome == ChangeResult::Outcome::Cancelled);
    CHECK_EQ(asked, 1);
    CHECK_EQ(ReadFile(TableFile), theirFile);

    mine.SetConflictHandler([] { return ConflictChoice::Reload; });
    CHECK(mine.AddAccount("weak", Account("Mine", "")).outcome == ChangeResult::Outcome::Reloaded);
    CHECK_EQ(mine.Table().Bytes(), theirFile);
    // Now in step with the file: the next change goes through without asking.
    mine.SetConflictHandler([&] {
        ++asked;
        return ConflictChoice::Cancel;
    });
    CHECK(mine.AddAccount("weak", Account("Mine", "")).done());
    CHECK_EQ(asked, 1);
    CHECK_EQ(Decoded(Slot(1).LoginName), std::string()); // the case table stays untouched
    UserTable onDisk;
    LoadUserTable(onDisk, TableFile);
    CHECK_EQ(Decoded(onDisk.Slot(3).Accounts[1].AccountName), std::string("Theirs"));
    CHECK_EQ(Decoded(onDisk.Slot(3).Accounts[2].AccountName), std::string("Mine"));

    // Overwrite: a user deleted elsewhere comes back only when asked for.
    CHECK(theirs.DeleteUser("weak").done());
    theirs.SetConflictHandler([] { return ConflictChoice::Reload; });
    CHECK(theirs.Save().outcome == ChangeResult::Outcome::Reloaded);
    CHECK(theirs.Table().FindUser("weak") == 3);
    CHECK(theirs.DeleteUser("weak").done());
    CHECK(theirs.Save().done());
    mine.SetConflictHandler([] { return ConflictChoice::Overwrite; });
    CHECK(mine.Save().done());
    LoadUserTable(onDisk, TableFile);
    CHECK(onDisk.FindUser("weak") == 3);
}

TEST(AFailedSaveLeavesTableAndFileAsTheyWere)
{
    WriteTeam("AMD");
    storecheck::RunAsOrdinaryUser([] {
        Session session(TableFile);
        session.LoadTable();
        session.SignIn("me", "pw");
        CHECK(session.AddUser(Plain("new", "npw", "/n")).done());
        const std::string memoryBefore = session.Table().Bytes();
        const std::string fileBefore = ReadFile(TableFile);
        CHECK(::chmod(TableFile.c_str(), 0444) == 0);
        bool failed = false;
        try {
            session.AddAccount("weak", Account("Loan", ""));
        } catch (const IoError& error) {
            failed = true;
            CHECK_EQ(error.code(), 5);
        }
        CHECK(failed);
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

TEST(FirstUseCreatesTheOnlyUserAndSignsThemIn)
{
    Session session(TableFile);
    const ChangeResult made = session.CreateFirstUser(Plain("chief", "pw", "/data", "000000"));
    CHECK(made.done());
    CHECK(session.SignedIn() && session.MayEditRights() && session.MayKeepAccounts());
    CHECK_EQ(ReadFile(TableFile).size(), UserTableFileSize);
    CHECK(Names(session) == std::vector<std::string>({"chief"}));

    Session again(TableFile);
    CHECK(again.CreateFirstUser(Plain("other", "pw", "/data", "000000")).reason ==
          ChangeResult::Reason::NotFirstUse);
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
        CHECK_EQ(session.LookUpUser(row.typed), row.slot);
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
    WriteTeam("AMD");
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
    for (const std::string rights : {"", "A", "M", "D", "AM", "AD", "MD", "AMD"}) {
        WriteTeam(rights);
        Session session(TableFile);
        session.LoadTable();
        CHECK(!session.MaySeeUserDetails());
        CHECK(session.SignIn("me", "pw") == Session::SignInResult::SignedIn);
        const bool expected =
            rights.find('M') != std::string::npos || rights.find('D') != std::string::npos;
        if (session.MaySeeUserDetails() != expected)
            storecheck::Fail(__FILE__, __LINE__, "as [" + rights + "]");
    }
}
