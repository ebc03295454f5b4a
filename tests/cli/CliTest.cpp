#include "CliRun.h"
#include "CliTerminal.h"

#include "../store/StoreCheck.h"

#include "audit/AuditLine.h"
#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "session/Session.h"
#include "session/TableCheck.h"
#include "support/TableSlots.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <termios.h>
#include <variant>
#include <vector>

#include <poll.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

using storecheck::fileExists;
using storecheck::listWorkingDir;
using storecheck::readFile;
using storecheck::TableFile;
using storecheck::testData;
using storecheck::writeFile;

namespace {

// The fixture's third user and password as a terminal types them (UTF-8);
// the table holds " Ren\xe9e " and "caf\xe9\x80".
const std::string Renee = "Ren\xc3\xa9"
                          "e";
const std::string ReneePassword = "caf\xc3\xa9\xe2\x82\xac";

std::string fixture()
{
    return testData("three-users.acl");
}

void useFixture()
{
    writeFile(TableFile, fixture());
}

// Signed in as `user`: the password is the first line of input, `more`
// follows it.
CliResult as(const std::string& user, const std::string& password,
             const std::vector<std::string>& command, const std::string& more = "")
{
    std::vector<std::string> arguments = {"--table", TableFile, "--user", user};
    arguments.insert(arguments.end(), command.begin(), command.end());
    return runCli(arguments, password + "\n" + more);
}

std::string described(const CliResult& result)
{
    return "exit " + std::to_string(result.status) + ", stdout " + storecheck::show(result.out) +
           ", stderr " + storecheck::show(result.err);
}

TableSlots decode(const std::string& bytes)
{
    return TableSlots(bytes);
}

TableSlots onDisk()
{
    const std::string bytes = readFile(TableFile);
    CHECK_EQ(bytes.size(), TableSlots::FileSize);
    return decode(bytes);
}

// "name/password/path/flags" of a slot, and its accounts as "name=description".
std::string userLine(const TableSlots& table, int slot)
{
    const std::optional<UserData> user = table.user(slot);
    if (!user)
        return "(free)";
    return user->loginName + "/" + user->password + "/" + user->dataPath + "/" +
           table.rightFlags(slot);
}

std::string accountLine(const TableSlots& table, int slot, int entry)
{
    for (const AccountData& account : table.accounts(slot)) {
        if (account.entry == entry)
            return account.name + "=" + account.description;
    }
    return "(free)";
}

// The name of an account entry; empty when free.
std::string accountName(const TableSlots& table, int slot, int entry)
{
    for (const AccountData& account : table.accounts(slot)) {
        if (account.entry == entry)
            return account.name;
    }
    return std::string();
}

// The user of that name as stored; blank when there is none.
UserData userNamed(const TableSlots& table, std::string_view loginName)
{
    const int slot = table.findUser(loginName);
    return slot == 0 ? UserData() : table.user(slot).value_or(UserData());
}

std::string differs(const std::string& what, const std::string& actual, const std::string& expected)
{
    return actual == expected ? std::string()
                              : what + ": " + storecheck::mismatch(actual, expected) + "; ";
}

std::string names(const TableSlots& table)
{
    std::string names;
    for (int slot = 1; slot <= TableSlots::Count; ++slot)
        names += "[" + table.user(slot).value_or(UserData()).loginName + "]";
    return names;
}

const std::string AdminLine = "admin/secret/C:\\Larkledger\\Data/000000";
const std::string ClerkLine = "clerk/Pa55w0rd//srv/ledger/111011";
const std::string ReneeLine = " Ren\xe9"
                              "e /caf\xe9\x80/D:\\Daten/101111";

} // namespace

namespace {

// The system account's fields of an audit line, for this process.
std::string systemFields()
{
    const passwd* me = ::getpwuid(::getuid());
    return " system_user=\"" + std::string(me ? me->pw_name : "") + "\" uid=\"" +
           std::to_string(::getuid()) + "\"";
}

} // namespace

TEST(TheFixtureIsWhatTheseTestsTakeItFor)
{
    useFixture();
    const TableSlots table = onDisk();
    CHECK_EQ(userLine(table, 1), AdminLine);
    CHECK_EQ(userLine(table, 2), ClerkLine);
    CHECK_EQ(userLine(table, 3), ReneeLine);
    CHECK_EQ(accountLine(table, 1, 0), std::string("Checking=Main account.\r\nBranch 12"));
    CHECK_EQ(accountLine(table, 1, 1), std::string("(free)"));
    CHECK_EQ(accountLine(table, 1, 2), std::string("Savings="));
    CHECK_EQ(accountLine(table, 3, 0), std::string("Gesch\xe4"
                                                   "ft=\x80 account"));
}

TEST(SignInFollowsTheLoginDialog)
{
    struct Row
    {
        std::string user;
        std::string input;
        int status;
        std::string err;
    };
    const Row rows[] = {
        {"admin", "secret\n", 0, ""},
        {"admin", "secret\r\n", 0, ""},
        {"admin", "secret", 0, ""},
        {" admin\t", "secret\n", 0, ""},
        {Renee, ReneePassword + "\n", 0, ""},
        {" " + Renee + " ", ReneePassword + "\n", 0, ""},
        {"", "secret\n", 2, "larkledger-security-cli: Enter your LOGIN NAME Please\n"},
        {"   ", "secret\n", 2, "larkledger-security-cli: Incorrect login name!\n"},
        {"ADMIN", "secret\n", 2, "larkledger-security-cli: Incorrect login name!\n"},
        {"admin", "", 2, "larkledger-security-cli: Enter your PASSWORD Please\n"},
        {"admin", "\nsecret\n", 2, "larkledger-security-cli: Enter your PASSWORD Please\n"},
        {"admin", "secret \n", 2, "larkledger-security-cli: Incorrect Password!\n"},
        {"admin", "Secret\n", 2, "larkledger-security-cli: Incorrect Password!\n"},
        {Renee, "cafe\xe2\x82\xac\n", 2, "larkledger-security-cli: Incorrect Password!\n"},
    };
    useFixture();
    for (const Row& row : rows) {
        const CliResult result =
            runCli({"--table", TableFile, "--user", row.user, "ls"}, row.input);
        const std::string expectedOut =
            row.status == 0 ? "admin\nclerk\n " + Renee + " \n" : std::string();
        if (result.status != row.status || result.err != row.err || result.out != expectedOut)
            storecheck::fail(__FILE__, __LINE__,
                             storecheck::show(row.user) + ": " + described(result));
        CHECK_EQ(readFile(TableFile), fixture());
    }
}

TEST(ShowFollowsTheUserDetailsPage)
{
    useFixture();
    struct Row
    {
        std::string user;
        std::string password;
        std::string name;
        std::string out;
    };
    const std::string adminRights = "DeleteRecord: TRUE\nDeleteUsers: TRUE\nModifyRecord: "
                                    "TRUE\nModifyUsers: TRUE\nAddRecord: TRUE\nAddUsers: TRUE\n";
    const Row rows[] = {
        {"admin", "secret", "admin",
         "Login name: admin\nPassword: secret\nData path: C:\\Larkledger\\Data\n" + adminRights +
             "Bank account: Checking\n    Main account.\n    Branch 12\nBank account: Savings\n"},
        {"admin", "secret", Renee,
         "Login name:  " + Renee +
             " \nPassword: Hidden\nData path: D:\\Daten\nDeleteRecord: FALSE\nDeleteUsers: "
             "TRUE\nModifyRecord: FALSE\nModifyUsers: FALSE\nAddRecord: FALSE\nAddUsers: "
             "FALSE\nBank account: Gesch\xc3\xa4"
             "ft\n    \xe2\x82\xac account\n"},
        // Without both ModifyUsers and DeleteUsers the Bank Account page
        // stays hidden.
        {"clerk", "Pa55w0rd", "admin",
         "Login name: admin\nPassword: Hidden\nData path: C:\\Larkledger\\Data\n" + adminRights +
             "Bank accounts: not shown without the ModifyUsers and DeleteUsers rights\n"},
        {Renee, ReneePassword, " " + Renee + " ",
         "Login name:  " + Renee + " \nPassword: " + ReneePassword +
             "\nData path: D:\\Daten\nDeleteRecord: FALSE\nDeleteUsers: TRUE\nModifyRecord: "
             "FALSE\nModifyUsers: FALSE\nAddRecord: FALSE\nAddUsers: FALSE\nBank accounts: not "
             "shown without the ModifyUsers and DeleteUsers rights\n"},
    };
    for (const Row& row : rows) {
        const CliResult result = as(row.user, row.password, {"show", row.name});
        if (result.status != 0 || result.out != row.out || !result.err.empty())
            storecheck::fail(__FILE__, __LINE__,
                             row.user + " shows " + row.name + ": " + described(result) + "\n" +
                                 storecheck::mismatch(result.out, row.out));
    }
    CHECK_EQ(readFile(TableFile), fixture());
}

TEST(UserDetailsAreRefusedWithoutModifyUsersOrDeleteUsers)
{
    useFixture();
    TableSlots table = onDisk();
    UserData keeper;
    keeper.loginName = "keeper";
    keeper.password = "pw";
    keeper.dataPath = "/k";
    keeper.rights = {Right::AddUsers};
    table.setUser(table.firstFree(), keeper);
    const std::string bytes = table.bytes();
    writeFile(TableFile, bytes);

    const CliResult listed = as("keeper", "pw", {"ls"});
    CHECK_EQ(listed.status, 0);
    CHECK_EQ(listed.out, "admin\nclerk\n " + Renee + " \nkeeper\n");
    const CliResult shown = as("keeper", "pw", {"show", "keeper"});
    CHECK_EQ(shown.status, 3);
    CHECK_EQ(shown.out, std::string());
    CHECK_EQ(shown.err, std::string("larkledger-security-cli: You may not see user details: that "
                                    "needs the ModifyUsers or DeleteUsers right.\n"));
    CHECK_EQ(readFile(TableFile), bytes);
}

TEST(EveryChangeReachesTheFile)
{
    struct Row
    {
        const char* what;
        std::vector<std::string> arguments;
        std::string input;
        std::function<std::string(const TableSlots&)> wrong;
    };
    const Row rows[] = {
        {"add",
         {"--user", "admin", "add", "bob", "--path", "/home/bob", "--grant", "AddRecord"},
         "secret\nbobpw\n",
         [](const TableSlots& t) {
             return differs("users", names(t),
                            "[admin][clerk][ Ren\xe9"
                            "e ][bob][]") +
                    differs("bob", userLine(t, 4), "bob/bobpw//home/bob/111101") +
                    differs("bob's accounts", accountLine(t, 4, 0), "(free)") +
                    differs("the others", t.bytes().substr(0, 3 * TableSlots::RecordSize),
                            fixture().substr(0, 3 * TableSlots::RecordSize));
         }},
        {"add, texts beyond ASCII",
         {"--user", "admin", "add", "Zo\xc3\xab", "--path", "/data/\xe2\x82\xacuro"},
         "secret\npw\xc3\xab\n",
         [](const TableSlots& t) {
             return differs("Zo\xeb", userLine(t, 4), "Zo\xeb/pw\xeb//data/\x80uro/111111");
         }},
        {"edit name, path and rights; the password stays",
         {"--user", "admin", "edit", "clerk", "--name", "clerk2", "--path", "/x", "--grant",
          "AddUsers", "--revoke", "ModifyUsers"},
         "secret\n",
         [](const TableSlots& t) {
             // Saving a change moves the user to the end, as in the windows.
             return differs("admin", userLine(t, 1), AdminLine) +
                    differs("Ren\xe9"
                            "e",
                            userLine(t, 2), ReneeLine) +
                    differs("Ren\xe9"
                            "e's account",
                            accountLine(t, 2, 0),
                            "Gesch\xe4"
                            "ft=\x80 account") +
                    differs("clerk2", userLine(t, 3), "clerk2/Pa55w0rd//x/111110") +
                    differs("free", names(t).substr(names(t).size() - 4), "[][]");
         }},
        {"edit the password of a user found by the trimmed name",
         {"--user", "admin", "edit", Renee, "--password"},
         "secret\nnew\xe2\x82\xacpw\n",
         [](const TableSlots& t) {
             return differs("Ren\xe9"
                            "e",
                            userLine(t, 3),
                            " Ren\xe9"
                            "e /new\x80pw/D:\\Daten/101111") +
                    differs("account", accountLine(t, 3, 0),
                            "Gesch\xe4"
                            "ft=\x80 account");
         }},
        {"a user with ModifyUsers alone sets their own password",
         {"--user", "clerk", "edit", "clerk", "--password"},
         "Pa55w0rd\nfresh\n",
         [](const TableSlots& t) {
             return differs("clerk", userLine(t, 3), "clerk/fresh//srv/ledger/111011");
         }},
        {"rm",
         {"--user", "admin", "rm", "clerk"},
         "secret\n",
         [](const TableSlots& t) {
             return differs("users", names(t),
                            "[admin][ Ren\xe9"
                            "e ][][][]") +
                    differs("Ren\xe9"
                            "e",
                            userLine(t, 2), ReneeLine) +
                    differs("account", accountLine(t, 2, 0),
                            "Gesch\xe4"
                            "ft=\x80 account");
         }},
        {"rm by a user with DeleteUsers alone",
         {"--user", Renee, "rm", "admin"},
         ReneePassword + "\n",
         [](const TableSlots& t) {
             return differs("users", names(t),
                            "[clerk][ Ren\xe9"
                            "e ][][][]");
         }},
        {"account-add with a description of two lines",
         {"--user", "admin", "account-add", "clerk", "Loan", "--description", "two\nlines"},
         "secret\n",
         [](const TableSlots& t) {
             return differs("clerk's account", accountLine(t, 2, 0), "Loan=two\r\nlines") +
                    differs("clerk", userLine(t, 2), ClerkLine);
         }},
        {"account-add fills the first gap",
         {"--user", "admin", "account-add", "admin", "Loan"},
         "secret\n",
         [](const TableSlots& t) {
             return differs("entry 0", accountLine(t, 1, 0),
                            "Checking=Main account.\r\nBranch 12") +
                    differs("entry 1", accountLine(t, 1, 1), "Loan=") +
                    differs("entry 2", accountLine(t, 1, 2), "Savings=");
         }},
        {"account-edit renames, found in another case",
         {"--user", "admin", "account-edit", "admin", "cHECKING", "--name", "Current"},
         "secret\n",
         [](const TableSlots& t) {
             return differs("entry 0", accountLine(t, 1, 0), "Current=Main account.\r\nBranch 12");
         }},
        {"account-edit describes",
         {"--user", "admin", "account-edit", "admin", "Savings", "--description", "Kept\nsafe"},
         "secret\n",
         [](const TableSlots& t) {
             return differs("entry 2", accountLine(t, 1, 2), "Savings=Kept\r\nsafe");
         }},
        {"account-rm",
         {"--user", "admin", "account-rm", "admin", "Savings"},
         "secret\n",
         [](const TableSlots& t) {
             return differs("entry 0", accountLine(t, 1, 0),
                            "Checking=Main account.\r\nBranch 12") +
                    differs("entry 2", accountLine(t, 1, 2), "(free)");
         }},
        {"account-rm of an account beyond ASCII",
         {"--user", "admin", "account-rm", Renee,
          "Gesch\xc3\xa4"
          "ft"},
         "secret\n",
         [](const TableSlots& t) {
             return differs("Ren\xe9"
                            "e's entry 0",
                            accountLine(t, 3, 0), "(free)");
         }},
    };
    for (const Row& row : rows) {
        useFixture();
        std::vector<std::string> arguments = {"--table", TableFile};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const CliResult result = runCli(arguments, row.input);
        if (result.status != 0 || !result.out.empty() || !result.err.empty())
            storecheck::fail(__FILE__, __LINE__, std::string(row.what) + ": " + described(result));
        CHECK(listWorkingDir() == std::vector<std::string>({TableFile}));
        const std::string wrong = row.wrong(onDisk());
        if (!wrong.empty())
            storecheck::fail(__FILE__, __LINE__, std::string(row.what) + ": " + wrong);
    }
}

TEST(EveryRefusalLeavesTheFileAsItWas)
{
    // What the table file holds before the command; nothing: no file.
    enum class Table
    {
        Fixture,
        CutShort,
        Empty,
        Missing
    };
    struct Row
    {
        std::vector<std::string> arguments; // after --table
        std::string input;
        int status;
        std::string err; // a part of standard error
        Table table = Table::Fixture;
    };
    const std::string admin[] = {"--user", "admin"};
    const auto asAdmin = [&](std::vector<std::string> command) {
        command.insert(command.begin(), std::begin(admin), std::end(admin));
        return command;
    };
    const std::string clerk = "Pa55w0rd\n";
    const std::string usage = "Usage: larkledger-security-cli [--table FILE]";
    const Row rows[] = {
        // The signed-in user's rights.
        {{"--user", "clerk", "add", "x", "--path", "/x"},
         clerk + "pw\n",
         3,
         ": You may not add users: that needs the AddUsers right.\n"},
        {{"--user", "clerk", "rm", "admin"},
         clerk,
         3,
         ": You may not delete users: that needs the DeleteUsers right.\n"},
        {{"--user", "clerk", "rm", "nobody"}, clerk, 3, "that needs the DeleteUsers right.\n"},
        {{"--user", Renee, "edit", "clerk", "--path", "/y"},
         ReneePassword + "\n",
         3,
         ": You may not change users: that needs the ModifyUsers right.\n"},
        {{"--user", "clerk", "edit", "clerk", "--grant", "AddUsers"},
         clerk,
         3,
         ": You may not change a user's rights: that needs the AddUsers right.\n"},
        {{"--user", "clerk", "edit", "admin", "--password"},
         clerk + "mine\n",
         3,
         ": You may not change the name or password of a user who holds rights you lack.\n"},
        {{"--user", "clerk", "account-add", "admin", "Loan"},
         clerk,
         3,
         ": You may not change bank accounts: that needs the DeleteUsers right.\n"},
        {{"--user", Renee, "account-rm", "admin", "Checking"},
         ReneePassword + "\n",
         3,
         ": You may not change bank accounts: that needs the ModifyUsers right.\n"},
        {{"--user", Renee, "account-edit", "admin", "Checking", "--description", "x"},
         ReneePassword + "\n",
         3,
         "that needs the ModifyUsers right.\n"},
        // The session core's rules.
        {asAdmin({"add", " ADMIN ", "--path", "/x"}), "secret\npw\n", 5, ": User already exist.\n"},
        {asAdmin({"add", "bob", "--path", "/b"}), "secret\n", 1,
         ": the new password is empty; nothing was written.\n"},
        {asAdmin({"account-add", "admin", "checking"}), "secret\n", 5,
         ": The checking is assigned, please Create another one.\n"},
        {asAdmin({"account-add", "admin", ""}), "secret\n", 3, ": Please give an account Name.\n"},
        {asAdmin({"rm", "nobody"}), "secret\n", 6, ": There is no user of that name.\n"},
        {asAdmin({"rm", ""}), "secret\n", 6, ": There is no user of that name.\n"},
        {asAdmin({"edit", "nobody", "--path", "/x"}), "secret\n", 6,
         ": There is no user of that name.\n"},
        {asAdmin({"show", "nobody"}), "secret\n", 6, ": There is no user of that name.\n"},
        {asAdmin({"account-add", "", "Loan"}), "secret\n", 6, ": There is no user of that name.\n"},
        {asAdmin({"account-rm", "nobody", "Checking"}), "secret\n", 6,
         ": There is no user of that name.\n"},
        {asAdmin({"account-rm", "admin", "Nothing"}), "secret\n", 6,
         ": There is no such bank account.\n"},
        {asAdmin({"account-edit", "admin", "Nothing", "--name", "X"}), "secret\n", 6,
         ": There is no such bank account.\n"},
        {{"init", "chief"},
         "pw\n",
         5,
         ": A user table already exists: the first login ID is made only where there is none. "
         "Sign in to it with --user NAME, or give init another --table FILE.\n"},
        // Texts the table cannot hold unchanged.
        {asAdmin({"add", "abcdefghijklmnop", "--path", "/x"}), "secret\npw\n", 1,
         ": login name: 16 characters, but the table holds at most 15.\n"},
        {asAdmin({"add", "\xc5\x81ukasz", "--path", "/x"}), "secret\npw\n", 1,
         ": login name: U+0141 \"\xc5\x81\" is not a Windows-1252 character"},
        // Rows without input: a text of the command line is refused before
        // any password is read.
        {asAdmin({"add", "bob", "--path", "/b\xff"}), "", 1,
         ": data path: not valid UTF-8 (at byte 3).\n"},
        {asAdmin({"add", "bob", "--path", "/" + std::string(255, 'p')}), "secret\npw\n", 1,
         ": data path: 256 characters, but the table holds at most 255.\n"},
        {asAdmin({"add", "bob", "--path", "/b"}), "secret\n123456789\n", 1,
         ": password: 9 characters, but the table holds at most 8.\n"},
        // A password is never quoted back.
        {asAdmin({"add", "bob", "--path", "/b"}), "secret\npw\xc5\x82\n", 1,
         ": password: it holds a character that is not in Windows-1252 (or is not UTF-8 text), "
         "which the table cannot store; nothing was written.\n"},
        {asAdmin({"edit", "clerk", "--name", "abcdefghijklmnop"}), "secret\n", 1,
         ": login name: 16 characters"},
        {asAdmin({"edit", "clerk", "--password"}), "secret\n123456789\n", 1,
         ": password: 9 characters"},
        {asAdmin({"account-add", "admin", std::string(31, 'a')}), "secret\n", 1,
         ": account name: 31 characters, but the table holds at most 30.\n"},
        {asAdmin({"account-edit", "admin", "Checking", "--name", std::string(31, 'a')}), "", 1,
         ": account name: 31 characters"},
        // 48 characters typed, 72 stored; no input.
        {asAdmin({"account-add", "admin", "Loan", "--description",
                  [] {
                      std::string lines;
                      for (int i = 0; i < 24; ++i)
                          lines += "x\n";
                      return lines;
                  }()}),
         "", 1,
         ": description (each line break takes two): 72 characters, but the table holds at "
         "most 70.\n"},
        // A sign-in the table cannot hold is refused as a sign-in.
        {asAdmin({"ls"}), "caf\xc3\xa9\xc5\x82\n", 2,
         ": Incorrect Password! (password: it holds a character that is not in Windows-1252 (or "
         "is not UTF-8 text), which the table cannot store.)\n"},
        {{"--user", "adm\xe9", "ls"},
         "secret\n",
         2,
         ": login name: not valid UTF-8 (at byte 4).\n"},
        {{"init", "chief", "--path", "no-such-folder"},
         "pw\n",
         1,
         ": Please give a correct path for your data files.\n",
         Table::Missing},
        // Usage mistakes.
        {{}, "", 1, ": no command given\n" + usage},
        {{"frobnicate"}, "", 1, ": unknown command 'frobnicate'\n" + usage},
        {{"--frob", "ls"}, "", 1, ": unknown option '--frob'\n" + usage},
        {asAdmin({"show"}), "secret\n", 1,
         ": show needs NAME\nUsage: larkledger-security-cli [OPTION]... show NAME [--format "
         "FORMAT]\n"},
        {asAdmin({"ls", "extra"}), "secret\n", 1,
         ": ls takes no operands\nUsage: larkledger-security-cli"},
        {asAdmin({"add", "bob", "--path", "/b", "--grant", "Everything"}), "secret\n", 1,
         ": unknown right 'Everything': RIGHT is one of DeleteRecord DeleteUsers ModifyRecord "
         "ModifyUsers AddRecord AddUsers\n"},
        {asAdmin({"rm", "clerk", "--grant", "AddUsers"}), "secret\n", 1,
         ": --grant does not go with rm\n"},
        {asAdmin({"edit", "clerk"}), "secret\n", 1, ": edit: nothing to change"},
        {asAdmin({"account-edit", "admin", "Checking"}), "secret\n", 1,
         ": account-edit: nothing to change"},
        {asAdmin({"add", "bob"}), "secret\n", 1, ": add needs --path PATH\n"},
        {asAdmin({"edit", "clerk", "--grant", "AddUsers", "--revoke", "AddUsers"}), "secret\n", 1,
         ": --grant and --revoke both name AddUsers\n"},
        {{"ls"}, "secret\n", 1, ": ls signs in first: give --user NAME\n"},
        {{"check", "--user", "admin"}, "", 1, ": --user does not go with check\n"},
        {{"--table", "other.acl", "ls", "--user", "admin"},
         "secret\n",
         1,
         ": --table is given twice\n"},
        {{"ls", "--user"}, "", 1, ": --user needs a value\n"},
        {{"ls", "--user=admin", "--password=x"}, "secret\n", 1, ": --password takes no value\n"},
        // Damaged or missing tables.
        {asAdmin({"ls"}), "secret\n", 4, ": Gatekeep.acl: Read beyond end of file\n",
         Table::CutShort},
        {asAdmin({"add", "bob", "--path", "/b"}), "secret\npw\n", 4,
         ": Gatekeep.acl: Read beyond end of file\n", Table::CutShort},
        {asAdmin({"ls"}), "secret\n", 2, ": Incorrect login name!\n", Table::Empty},
        {asAdmin({"ls"}), "secret\n", 4,
         ": Gatekeep.acl: there is no user table here; init creates one.\n", Table::Missing},
        {{"check"}, "", 4, ": Gatekeep.acl: File not found\n", Table::Missing},
    };
    for (const Row& row : rows) {
        std::optional<std::string> before;
        switch (row.table) {
        case Table::Fixture:
            before = fixture();
            break;
        case Table::CutShort:
            before = fixture().substr(0, 1000);
            break;
        case Table::Empty:
            before = std::string();
            break;
        case Table::Missing:
            if (fileExists(TableFile))
                CHECK(::unlink(TableFile.c_str()) == 0);
            break;
        }
        if (before)
            writeFile(TableFile, *before);
        std::vector<std::string> arguments = {"--table", TableFile};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const CliResult result = runCli(arguments, row.input);

        std::string command;
        for (const std::string& argument : row.arguments)
            command += " " + argument;
        const bool sameFile = before ? fileExists(TableFile) && readFile(TableFile) == *before
                                     : !fileExists(TableFile);
        const std::vector<std::string> expectedFiles =
            before ? std::vector<std::string>({TableFile}) : std::vector<std::string>();
        if (result.status != row.status || result.err.find(row.err) == std::string::npos ||
            result.err.rfind("larkledger-security-cli: ", 0) != 0 || !result.out.empty() ||
            !sameFile || listWorkingDir() != expectedFiles)
            storecheck::fail(__FILE__, __LINE__,
                             storecheck::show(command) + ": " + described(result) +
                                 (sameFile ? "" : "; the table changed") + "; expected exit " +
                                 std::to_string(row.status) + " and " + storecheck::show(row.err));
    }
}

TEST(CheckReportsWithoutSigningIn)
{
    useFixture();
    const std::string sound = "Table: Gatekeep.acl\nSize: 6565 bytes\nSlot 1: \"admin\"\nSlot 2: "
                              "\"clerk\"\nSlot 3: \" " +
                              Renee + " \"\nThe table is sound.\n";
    const CliResult fixture = runCli({"--table", TableFile, "check"});
    CHECK_EQ(fixture.status, 0);
    CHECK_EQ(fixture.out, sound);
    CHECK_EQ(fixture.err, std::string());

    // Reading only: a table nobody may write is checked all the same.
    storecheck::runAsOrdinaryUser([&] {
        CHECK(::chmod(TableFile.c_str(), 0444) == 0);
        const CliResult readOnly = runCli({"--table", TableFile, "check"});
        CHECK_EQ(readOnly.status, 0);
        CHECK_EQ(readOnly.out, sound);
    });
    CHECK_EQ(readFile(TableFile), ::fixture());
    CHECK(::chmod(TableFile.c_str(), 0644) == 0);

    TableSlots damaged = decode(::fixture());
    damaged.setRightFlag(2, Right::AddUsers, "2");
    damaged.setLoginName(2, "REN\xe9"
                            "E");
    struct Row
    {
        std::string bytes;
        std::string out;
    };
    const Row rows[] = {
        {::fixture().substr(0, 1000),
         "Table: Gatekeep.acl\nSize: 1000 bytes\nNo users.\nFault: The file holds 1000 bytes, "
         "not 6565: it ends inside a record, so the table cannot be read (Read beyond end of "
         "file).\nThe table is not sound: 1 fault.\n"},
        {damaged.bytes(), "Table: Gatekeep.acl\nSize: 6565 bytes\nSlot 1: \"admin\"\nSlot 2: "
                          "\"REN\xc3\xa9"
                          "E\"\nSlot 3: \" " +
                              Renee +
                              " \"\nFault: Slot 2 (\"REN\xc3\xa9"
                              "E\"): the AddUsers right holds \"2\", neither \"0\" nor \"1\".\n"
                              "Fault: Slots 2 and 3 hold the same login name (\"REN\xc3\xa9"
                              "E\" and \" " +
                              Renee + " \").\nThe table is not sound: 2 faults.\n"},
    };
    for (const Row& row : rows) {
        writeFile(TableFile, row.bytes);
        const CliResult result = runCli({"--table", TableFile, "check"});
        if (result.status != 1 || result.out != row.out || !result.err.empty())
            storecheck::fail(__FILE__, __LINE__,
                             described(result) + "\n" + storecheck::mismatch(result.out, row.out));
        CHECK_EQ(readFile(TableFile), row.bytes);
    }
}

TEST(InitMakesAPrivateTableWithItsFirstUser)
{
    ::umask(022);
    char* here = ::realpath(".", nullptr);
    const std::string folder = here;
    std::free(here);
    CHECK(::mkdir("data", 0755) == 0);

    // The first-use dialog trims the name and the password.
    const CliResult made = runCli({"--table", TableFile, "init", "  chief\t"}, "  pw \n");
    CHECK_EQ(made.status, 0);
    CHECK_EQ(made.out + made.err, std::string());
    struct stat st
    {
    };
    CHECK(::stat(TableFile.c_str(), &st) == 0);
    CHECK_EQ(st.st_mode & 07777, 0600u);
    const TableSlots table = onDisk();
    CHECK_EQ(userLine(table, 1), "chief/pw/" + folder + "/000000");
    CHECK_EQ(names(table), std::string("[chief][][][][]"));
    for (int entry = 0; entry < TableSlots::AccountEntries; ++entry)
        CHECK_EQ(accountLine(table, 1, entry), std::string("(free)"));
    CHECK_EQ(runCli({"--table", TableFile, "check"}).status, 0);

    CHECK(::unlink(TableFile.c_str()) == 0);
    const CliResult elsewhere =
        runCli({"--table", TableFile, "init", "chief", "--path", "data/"}, "pw\n");
    CHECK_EQ(elsewhere.status, 0);
    CHECK_EQ(userLine(onDisk(), 1), "chief/pw/" + folder + "/data/000000");

    // The first-use rules refuse before anything is written.
    CHECK(::unlink(TableFile.c_str()) == 0);
    const CliResult blank = runCli({"--table", TableFile, "init", " "}, "pw\n");
    CHECK_EQ(blank.status, 3);
    CHECK_EQ(blank.err, std::string("larkledger-security-cli: Please type in your new ID and "
                                    "Password.\n"));
    const CliResult noPassword = runCli({"--table", TableFile, "init", "chief"}, " \n");
    CHECK_EQ(noPassword.status, 1);
    const CliResult notAFolder =
        runCli({"--table", TableFile, "init", "chief", "--path", "data/missing"}, "pw\n");
    CHECK_EQ(notAFolder.status, 1);
    // The placeholder would hand every right to whoever read the manual.
    const CliResult placeholder = runCli({"--table", TableFile, "init", "chief"}, "NewPassW\n");
    CHECK_EQ(placeholder.status, int(ExitRefused));
    CHECK_EQ(placeholder.err, std::string("larkledger-security-cli: The NewPassWord is a reserved "
                                          "word, please try another one.\n"));
    CHECK(listWorkingDir() == std::vector<std::string>({"data"}));
}

TEST(InitKeepsTheTableInTheLaunchersDataFolder)
{
    char* here = ::realpath(".", nullptr);
    const std::string folder = here;
    std::free(here);

    // HOME alone: the folder is made, private to its owner.
    const CliResult made = runCli({"init", "chief"}, "pw\n");
    CHECK_EQ(made.status, 0);
    const std::string data = folder + "/home/.local/share/larkledger-security";
    struct stat st
    {
    };
    CHECK(::stat(data.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    CHECK_EQ(st.st_mode & 0077, 0u);
    CHECK_EQ(userLine(decode(readFile(data + "/Gatekeep.acl")), 1), "chief/pw/" + data + "/000000");
    const CliResult listed = runCli({"--user", "chief", "ls"}, "pw\n");
    CHECK_EQ(listed.status, 0);
    CHECK_EQ(listed.out, std::string("chief\n"));

    // XDG_DATA_HOME wins; the launcher's first-use marker goes once the
    // table is there.
    CHECK(::mkdir("xdg", 0755) == 0 && ::mkdir("xdg/larkledger-security", 0755) == 0);
    writeFile("xdg/larkledger-security/~first.log", "");
    const std::vector<std::string> xdg = {"XDG_DATA_HOME=" + folder + "/xdg"};
    CHECK_EQ(runCli({"init", "other"}, "pw\n", xdg).status, 0);
    CHECK(!fileExists("xdg/larkledger-security/~first.log"));
    CHECK_EQ(userLine(decode(readFile("xdg/larkledger-security/Gatekeep.acl")), 1),
             "other/pw/" + folder + "/xdg/larkledger-security/000000");
    // An empty XDG_DATA_HOME counts as unset, as in the launcher.
    const CliResult fallback = runCli({"--user", "chief", "ls"}, "pw\n", {"XDG_DATA_HOME="});
    CHECK_EQ(fallback.out, std::string("chief\n"));
}

TEST(AProvisioningRunEndsInUsersTheSignInAccepts)
{
    const auto run = [](const std::vector<std::string>& command, const std::string& input) {
        std::vector<std::string> arguments = {"--table", TableFile};
        arguments.insert(arguments.end(), command.begin(), command.end());
        const CliResult result = runCli(arguments, input);
        if (result.status != 0)
            storecheck::fail(__FILE__, __LINE__, described(result));
        return result;
    };
    run({"init", "admin"}, "adminpw\n");
    run({"--user", "admin", "add", "clerk", "--path", "/srv/clerk", "--grant", "ModifyRecord"},
        "adminpw\nclerkpw\n");
    run({"--user", "admin", "add", "Zo\xc3\xab", "--path", "/srv/zo\xc3\xab", "--grant",
         "AddRecord", "--grant", "DeleteRecord"},
        "adminpw\nzo\xc3\xab\xe2\x82\xac\n");
    run({"--user", "admin", "account-add", "clerk", "Payroll", "--description", "Monthly\nwages"},
        "adminpw\n");
    const std::string checked = run({"check"}, "").out;
    CHECK_EQ(checked.substr(checked.rfind('\n', checked.size() - 2) + 1),
             std::string("The table is sound.\n"));
    CHECK_EQ(run({"--user", "Zo\xc3\xab", "ls"}, "zo\xc3\xab\xe2\x82\xac\n").out,
             std::string("admin\nclerk\nZo\xc3\xab\n"));

    // The same sign-in the login dialog makes.
    struct Row
    {
        std::string name;
        std::string password;
        std::string rights; // granted, in record order
    };
    const Row rows[] = {
        {"admin", "adminpw",
         "DeleteRecord DeleteUsers ModifyRecord ModifyUsers AddRecord AddUsers"},
        {"clerk", "clerkpw", "ModifyRecord"},
        {"Zo\xc3\xab", "zo\xc3\xab\xe2\x82\xac", "DeleteRecord AddRecord"},
    };
    for (const Row& row : rows) {
        Session session(TableFile);
        session.loadTable();
        CHECK(session.signIn(row.name, row.password + "x") == Session::SignInResult::WrongPassword);
        CHECK(session.signIn(row.name, row.password) == Session::SignInResult::SignedIn);
        std::string granted;
        for (Right right : AllRights) {
            if (session.granted(right))
                granted += std::string(granted.empty() ? "" : " ") + rightName(right);
        }
        CHECK_EQ(granted, row.rights);
    }
    const TableSlots table = onDisk();
    CHECK_EQ(accountLine(table, 2, 0), std::string("Payroll=Monthly\r\nwages"));
    const std::optional<UserData> zoe = table.user(3);
    CHECK(zoe.has_value());
    CHECK_EQ(zoe.value_or(UserData()).dataPath, std::string("/srv/zo\xeb"));
}

namespace {

AccountData namedAccount(const std::string& name)
{
    AccountData account;
    account.name = name;
    return account;
}

} // namespace

// Nobody waits while someone types: the writer lock is taken once every
// password is in, and from then on to the write no one comes in between.
TEST(ACommandTakesTheWriterLockOnlyOnceEveryPasswordIsTyped)
{
    struct Row
    {
        std::vector<std::string> command;
        std::string second; // the line read after the sign-in
        bool (*made)(const TableSlots&);
    };
    const Row rows[] = {
        {{"add", "bob", "--path", "/b"},
         "bobpw\n",
         [](const TableSlots& t) { return t.findUser("bob") != 0; }},
        {{"edit", "clerk", "--password"},
         "newpw\n",
         [](const TableSlots& t) { return userNamed(t, "clerk").password == "newpw"; }},
    };
    for (const Row& row : rows) {
        useFixture();
        std::vector<std::string> arguments = {"--table", TableFile, "--user", "admin"};
        arguments.insert(arguments.end(), row.command.begin(), row.command.end());
        CliProcess process(arguments);
        process.write("secret\n");
        process.waitUntilRead();
        // Time for a command that locks before the new password to have
        // locked.
        ::usleep(300000);

        // Someone else saves while the command waits for its new password,
        // without waiting.
        Session other(TableFile);
        other.loadTable();
        CHECK(other.signIn("admin", "secret") == Session::SignInResult::SignedIn);
        other.setWriterWait(std::chrono::milliseconds(0));
        const ChangeResult theirs = other.addAccount("clerk", namedAccount("Theirs"));
        if (!theirs.done())
            storecheck::fail(__FILE__, __LINE__,
                             storecheck::show(row.command) + ": " + theirs.message);

        // Typed while someone holds the lock, the command waits its turn.
        {
            const Session::WriterTake hold = other.holdWriterLock();
            CHECK(hold.hold);
            process.write(row.second);
            process.waitUntilRead();
            ::usleep(300000);
            CHECK_EQ(accountName(onDisk(), 2, 0), std::string("Theirs"));
            CHECK(!row.made(onDisk()));
        }
        const CliResult result = process.finish();
        CHECK_EQ(result.status, 0);
        CHECK_EQ(result.err, std::string("larkledger-security-cli: waiting for another copy to "
                                         "finish writing Gatekeep.acl\n"));
        // Its change lands on the table the other writer left.
        const TableSlots onDisk = ::onDisk();
        CHECK(row.made(onDisk));
        CHECK_EQ(accountName(onDisk, onDisk.findUser("clerk"), 0), std::string("Theirs"));
        CHECK(listWorkingDir() == std::vector<std::string>({TableFile}));
    }
}

// A sign-in is the record signed in as: given another password by someone
// else while the command waits for its new user's password, the login ID
// is no longer the one that signed in, and the command changes nothing.
TEST(ACommandWhoseSignInIsGoneMeanwhileChangesNothing)
{
    useFixture();
    CliProcess process({"--table", TableFile, "--user", "admin", "add", "bob", "--path", "/b"});
    process.write("secret\n");
    process.waitUntilRead();
    Session other(TableFile);
    other.loadTable();
    CHECK(other.signIn("admin", "secret") == Session::SignInResult::SignedIn);
    CHECK(other.changeOwnPassword("secret", "fresh1", "fresh1").done());
    const std::string before = readFile(TableFile);

    process.write("bobpw\n");
    const CliResult result = process.finish();
    CHECK_EQ(result.status, int(ExitRefused));
    CHECK_EQ(result.err,
             std::string("larkledger-security-cli: Your login ID admin is no longer in "
                         "Gatekeep.acl as you signed in (someone else deleted it, renamed it or "
                         "gave it another password): you are signed out, and nothing more can be "
                         "changed until you sign in again.\n"));
    CHECK_EQ(readFile(TableFile), before);
}

TEST(ACommandWaitsForAnotherWriterSayingSo)
{
    const std::string waiting =
        "larkledger-security-cli: waiting for another copy to finish writing Gatekeep.acl\n";
    const std::vector<std::string> change = {"--table", TableFile,     "--user", "admin", "--wait",
                                             "1",       "account-add", "admin",  "Loan"};
    // Held past the wait: nothing written.
    useFixture();
    {
        Session holder(TableFile);
        const Session::WriterTake hold = holder.holdWriterLock();
        CHECK(hold.hold);
        const CliResult result = runCli(change, "secret\n");
        CHECK_EQ(result.status, 4);
        CHECK_EQ(result.err, waiting + "larkledger-security-cli: Gatekeep.acl: File locked by "
                                       "another writer\n");
        CHECK_EQ(readFile(TableFile), fixture());
    }

    // Let go during the wait: the command goes on.
    useFixture();
    {
        auto holder = std::make_unique<Session>(TableFile);
        std::optional<Session::WriterHold> hold(holder->holdWriterLock().hold);
        CHECK(hold);
        CliProcess process(change);
        process.write("secret\n");
        ::usleep(300000);
        hold.reset();
        const CliResult result = process.finish();
        CHECK_EQ(result.status, 0);
        CHECK_EQ(result.err, waiting);
        CHECK_EQ(accountName(onDisk(), 1, 1), std::string("Loan"));
    }
}

TEST(EveryChangeReportedDoneByConcurrentWritersIsInTheFile)
{
    // Three commands and one session in this process change three users
    // and one user's accounts at once, round after round.
    useFixture();
    Session mine(TableFile);
    mine.loadTable();
    CHECK(mine.signIn("admin", "secret") == Session::SignInResult::SignedIn);
    const std::vector<std::string> users = {"clerk", "admin", " " + Renee + " "};
    const std::vector<std::string> stored = {"clerk", "admin",
                                             " Ren\xe9"
                                             "e "};
    constexpr int Rounds = 25;
    int done = 0;
    for (int round = 0; round < Rounds; ++round) {
        std::vector<std::unique_ptr<CliProcess>> writers;
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < users.size(); ++i) {
            paths.push_back("/r" + std::to_string(round) + "u" + std::to_string(i));
            writers.push_back(std::make_unique<CliProcess>(
                std::vector<std::string>{"--table", TableFile, "--user", "admin", "edit", users[i],
                                         "--path", paths.back()}));
            writers.back()->write("secret\n");
        }
        const std::string account = "R" + std::to_string(round);
        const std::string last = "R" + std::to_string(round - 1);
        const ChangeResult mineDone =
            round % 2 == 0 ? mine.addAccount("clerk", namedAccount(account))
                           : mine.deleteAccount("clerk", mine.lookUpAccount("clerk", last));
        std::vector<int> statuses;
        for (auto& writer : writers)
            statuses.push_back(writer->finish().status);

        const TableSlots onDisk = ::onDisk();
        for (std::size_t i = 0; i < users.size(); ++i) {
            const int slot = onDisk.findUser(stored[i]);
            if (statuses[i] == 0 && (slot == 0 || onDisk.user(slot)->dataPath != paths[i]))
                storecheck::fail(__FILE__, __LINE__,
                                 "round " + std::to_string(round) + ": " + paths[i] + " lost");
            done += statuses[i] == 0;
        }
        if (mineDone.done()) {
            const int slot = onDisk.findUser("clerk");
            bool found = false;
            for (const AccountData& entry : onDisk.accounts(slot))
                found = found || entry.name == account;
            bool lastFound = false;
            for (const AccountData& entry : onDisk.accounts(slot))
                lastFound = lastFound || entry.name == last;
            if (round % 2 == 0 ? !found : lastFound)
                storecheck::fail(__FILE__, __LINE__,
                                 "round " + std::to_string(round) + ": the session's change lost");
        }
    }
    // Every command waited its turn rather than giving up.
    CHECK_EQ(done, Rounds * static_cast<int>(users.size()));
}

TEST(AFileThatCannotBeWrittenEndsWithExit4)
{
    useFixture();
    storecheck::runAsOrdinaryUser([] {
        CHECK(::chmod(TableFile.c_str(), 0444) == 0);
        const CliResult result = as("admin", "secret", {"account-add", "admin", "Loan"});
        CHECK_EQ(result.status, 4);
        CHECK_EQ(result.err,
                 std::string("larkledger-security-cli: Gatekeep.acl: File access denied\n"));
        CHECK_EQ(readFile(TableFile), fixture());
        CHECK(listWorkingDir() == std::vector<std::string>({TableFile}));
    });
}

// A file far larger than a table, given as the table, is no table: every
// command refuses it before it signs in or writes, and it stays as it was.
TEST(AFileFarLargerThanATableIsRefusedAndKept)
{
    struct Row
    {
        std::vector<std::string> arguments; // after --table
        std::string input;
    };
    const Row rows[] = {
        {{"check"}, ""},
        {{"--user", "admin", "ls"}, "secret\n"},
        {{"--user", "admin", "add", "bob", "--path", "/b"}, "secret\nbobpw\n"},
        {{"init", "chief"}, "pw\n"},
    };
    const off_t size = off_t{3} << 30; // a hole: it takes no disk
    useFixture();
    CHECK(::truncate(TableFile.c_str(), size) == 0);
    struct stat before
    {
    };
    CHECK(::stat(TableFile.c_str(), &before) == 0);
    for (const Row& row : rows) {
        std::vector<std::string> arguments = {"--table", TableFile};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const CliResult result = runCli(arguments, row.input);

        struct stat after
        {
        };
        const bool kept = ::stat(TableFile.c_str(), &after) == 0 && after.st_size == size &&
                          after.st_ino == before.st_ino &&
                          after.st_mtim.tv_sec == before.st_mtim.tv_sec &&
                          after.st_mtim.tv_nsec == before.st_mtim.tv_nsec &&
                          storecheck::readFileStart(TableFile, TableSlots::FileSize) == fixture() &&
                          listWorkingDir() == std::vector<std::string>({TableFile});
        if (result.status != 4 ||
            result.err != "larkledger-security-cli: Gatekeep.acl: File access denied\n" ||
            !result.out.empty() || !kept)
            storecheck::fail(__FILE__, __LINE__,
                             storecheck::show(row.arguments) + ": " + described(result) +
                                 (kept ? "" : "; the file changed"));
    }
}

TEST(APasswordFromATerminalIsNotEchoed)
{
    useFixture();
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    CHECK(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string terminal = ::ptsname(master);
    // Held open so the terminal outlives the program and can be looked at.
    const int held = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);
    CHECK(held >= 0);
    termios before{};
    CHECK(::tcgetattr(held, &before) == 0);
    CHECK((before.c_lflag & ECHO) != 0);

    int output[2];
    int error[2];
    CHECK(::pipe(output) == 0 && ::pipe(error) == 0);
    std::vector<std::string> argv = {cliProgram(), "--table", TableFile, "--user", "admin", "ls"};
    std::vector<char*> pointers;
    for (std::string& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    CHECK(child >= 0);
    if (child == 0) {
        ::setsid();
        const int fd = ::open(terminal.c_str(), O_RDWR);
        ::dup2(fd, STDIN_FILENO);
        ::dup2(output[1], STDOUT_FILENO);
        ::dup2(error[1], STDERR_FILENO);
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    ::close(output[1]);
    ::close(error[1]);

    const auto readSome = [](int fd, std::string& into) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, 60000) <= 0)
            return false;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    };
    std::string err;
    while (err.find("Password for admin: ") == std::string::npos && readSome(error[0], err)) {
    }
    CHECK_EQ(err, std::string("Password for admin: "));
    CHECK(::write(master, "secret\n", 7) == 7);
    std::string out;
    while (readSome(output[0], out)) {
    }
    while (readSome(error[0], err)) {
    }
    int status = 0;
    CHECK(::waitpid(child, &status, 0) == child);
    CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    CHECK_EQ(out, "admin\nclerk\n " + Renee + " \n");

    // What the terminal showed: the line end, never the password.
    std::string shown;
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    char buffer[256];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, static_cast<std::size_t>(n));
    CHECK_EQ(shown.find("secret"), std::string::npos);
    termios after{};
    CHECK(::tcgetattr(held, &after) == 0);
    CHECK((after.c_lflag & ECHO) != 0);
    ::close(output[0]);
    ::close(error[0]);
    ::close(held);
    ::close(master);
}

namespace {

std::vector<std::string> adminLists()
{
    return {"--table", TableFile, "--user", "admin", "ls"};
}

const std::string PasswordPrompt = "Password for admin: ";
// The list as the terminal shows it, each line end made CR LF.
const std::string ListShown = "admin\r\nclerk\r\n";

bool echoes(const TerminalJob& job)
{
    return (job.modes().c_lflag & ECHO) != 0;
}

std::string stopped(int signal)
{
    return "stopped " + std::to_string(signal);
}

std::string killed(int signal)
{
    return "killed " + std::to_string(signal);
}

// Fails naming the case when `actual` is not `expected`.
void expect(const std::string& where, const std::string& actual, const std::string& expected)
{
    if (actual != expected)
        storecheck::fail(__FILE__, __LINE__, where + ": " + storecheck::mismatch(actual, expected));
}

void expectQuiet(const std::string& where, const TerminalJob& job)
{
    if (echoes(job))
        storecheck::fail(__FILE__, __LINE__, where + ": the terminal echoes");
}

void expectAsFound(const std::string& where, const TerminalJob& job)
{
    if (!sameModes(job.modes(), job.shellModes()))
        storecheck::fail(__FILE__, __LINE__, where + ": the terminal is not as the shell keeps it");
}

} // namespace

TEST(APasswordPromptStaysQuietHoweverOftenTheJobIsStopped)
{
    struct Row
    {
        std::string how;
        std::function<void(TerminalJob&)> stop;
        int stoppedBy;
        // A stop that can be caught finds the terminal as it was before.
        bool restoredWhileStopped;
        // `bg` first: continued in the background, the job must leave the
        // terminal to the shell until it reads and is stopped for that.
        bool backgroundFirst;
    };
    const Row rows[] = {
        {"Ctrl-Z, fg", [](TerminalJob& job) { job.type("\x1a"); }, SIGTSTP, true, false},
        {"SIGSTOP, fg", [](TerminalJob& job) { job.send(SIGSTOP); }, SIGSTOP, false, false},
        {"Ctrl-Z, bg, fg", [](TerminalJob& job) { job.type("\x1a"); }, SIGTSTP, true, true},
    };
    useFixture();
    for (const Row& row : rows) {
        TerminalJob job(adminLists());
        job.waitFor(PasswordPrompt);
        expectQuiet(row.how + ", prompted", job);
        for (int round = 1; round <= 2; ++round) {
            const std::string where = row.how + ", round " + std::to_string(round);
            row.stop(job);
            expect(where, job.nextChange(), stopped(row.stoppedBy));
            if (row.restoredWhileStopped)
                expectAsFound(where + ", stopped", job);
            if (row.backgroundFirst) {
                job.background();
                // Stopped again so soon that the shell may see only that.
                std::string change = job.nextChange();
                if (change == "continued")
                    change = job.nextChange();
                expect(where, change, stopped(SIGTTIN));
                expectAsFound(where + ", in the background", job);
            }
            job.foreground();
            expect(where, job.nextChange(), "continued");
            // Shown again below the shell's lines, with echo off first.
            job.waitFor(PasswordPrompt);
            expectQuiet(where + ", continued", job);
        }
        job.type("secret\n");
        const std::string shown = job.waitFor(ListShown);
        expect(row.how, job.nextChange(), "exited 0");
        if (shown.find("secret") != std::string::npos)
            storecheck::fail(__FILE__, __LINE__, row.how + ": shown " + storecheck::show(shown));
        expectAsFound(row.how + ", ended", job);
    }
}

TEST(APasswordPromptLeavesTheTerminalAsItFoundItHoweverItEnds)
{
    struct Row
    {
        std::string how;
        std::function<void(TerminalJob&)> end;
        std::string ended;
    };
    const Row rows[] = {
        {"Enter", [](TerminalJob& job) { job.type("secret\n"); }, "exited 0"},
        // An empty password.
        {"Ctrl-D", [](TerminalJob& job) { job.type("\x04"); }, "exited 2"},
        {"Ctrl-C", [](TerminalJob& job) { job.type("\x03"); }, killed(SIGINT)},
        {"Ctrl-\\", [](TerminalJob& job) { job.type("\x1c"); }, killed(SIGQUIT)},
        {"SIGTERM", [](TerminalJob& job) { job.send(SIGTERM); }, killed(SIGTERM)},
        {"SIGHUP", [](TerminalJob& job) { job.send(SIGHUP); }, killed(SIGHUP)},
    };
    useFixture();
    for (const Row& row : rows) {
        for (const bool stoppedFirst : {false, true}) {
            const std::string where = row.how + (stoppedFirst ? " after Ctrl-Z, fg" : "");
            TerminalJob job(adminLists());
            job.waitFor(PasswordPrompt);
            if (stoppedFirst) {
                job.type("\x1a");
                expect(where, job.nextChange(), stopped(SIGTSTP));
                job.foreground();
                expect(where, job.nextChange(), "continued");
                job.waitFor(PasswordPrompt);
            }
            row.end(job);
            expect(where, job.nextChange(), row.ended);
            expectAsFound(where, job);
        }
    }
}

TEST(AJobStartedInTheBackgroundTakesTheTerminalsModesOnlyOnceItHasIt)
{
    useFixture();
    TerminalJob job(adminLists(), TerminalJob::Start::Background);
    CHECK_EQ(job.nextChange(), stopped(SIGTTOU));
    job.foreground();
    CHECK_EQ(job.nextChange(), std::string("continued"));
    job.waitFor(PasswordPrompt);
    CHECK(!echoes(job));
    job.type("secret\n");
    job.waitFor(ListShown);
    CHECK_EQ(job.nextChange(), std::string("exited 0"));
    // Not the line editor's modes, which were the terminal's when it started.
    CHECK(sameModes(job.modes(), job.shellModes()));
}

TEST(HelpAndVersion)
{
    const CliResult help = runCli({"--help"});
    CHECK_EQ(help.status, 0);
    CHECK_EQ(help.err, std::string());
    for (const char* line :
         {"\n  ls ", "\n  show NAME ", "\n  add NAME ", "\n  edit NAME ", "\n  rm NAME ",
          "\n  account-add NAME ACCOUNT ", "\n  account-edit NAME ACCOUNT ",
          "\n  account-rm NAME ACCOUNT ", "\n  check ", "\n  init NAME ", "\nExit status:\n"}) {
        if (help.out.find(line) == std::string::npos)
            storecheck::fail(__FILE__, __LINE__, std::string("--help lacks") + line);
    }
    // Asking for help beats a mistake beside it.
    CHECK_EQ(runCli({"frobnicate", "--frob", "-h"}).out, help.out);

    const CliResult version = runCli({"--version"});
    CHECK_EQ(version.status, 0);
    CHECK_EQ(
        version.out,
        std::string("larkledger-security-cli (Larkledger Security Manager) " LARK_VERSION "\n"));
}

TEST(AProvisioningScriptRunsTwiceWithTheSameEnd)
{
    useFixture();
    const std::vector<std::string> add = {
        "add", "Bob", "--path", "/srv/b", "--grant", "addrecord,ModifyRecord", "--if-missing"};
    for (int run = 0; run < 2; ++run) {
        const CliResult added = as("admin", "secret", add, "bobpw\n");
        CHECK_EQ(added.status, 0);
        CHECK_EQ(added.err, std::string());
    }
    TableSlots table = onDisk();
    CHECK_EQ(table.findUser("Bob"), 4);
    CHECK_EQ(table.rightFlags(4), std::string("110101"));

    // Without the option the second add says so with its own status.
    CHECK_EQ(as("admin", "secret", {"add", "BOB", "--path", "/x"}, "pw\n").status, 5);
    for (int run = 0; run < 2; ++run)
        CHECK_EQ(as("admin", "secret", {"rm", "Bob", "--if-present"}).status, 0);
    CHECK_EQ(as("admin", "secret", {"rm", "Bob"}).status, 6);
    CHECK_EQ(onDisk().findUser("Bob"), 0);
}

TEST(MachineReadableOutput)
{
    useFixture();
    struct Row
    {
        std::vector<std::string> command;
        std::string out;
    };
    const Row rows[] = {
        {{"ls", "--format=json"}, "[\"admin\", \"clerk\", \" " + Renee + " \"]\n"},
        {{"ls", "--format", "tsv"}, "admin\nclerk\n " + Renee + " \n"},
        {{"show", "clerk", "--format=json"},
         "{\"login_name\": \"clerk\", \"password\": \"Hidden\", \"data_path\": \"/srv/ledger\", "
         "\"rights\": {\"DeleteRecord\": false, \"DeleteUsers\": false, \"ModifyRecord\": false, "
         "\"ModifyUsers\": true, \"AddRecord\": false, \"AddUsers\": false}, \"bank_accounts\": "
         "[]}\n"},
        {{"show", "admin", "--format=tsv"},
         "login_name\tadmin\npassword\tsecret\ndata_path\tC:\\\\Larkledger\\\\Data\n"
         "DeleteRecord\tTRUE\nDeleteUsers\tTRUE\nModifyRecord\tTRUE\nModifyUsers\tTRUE\n"
         "AddRecord\tTRUE\nAddUsers\tTRUE\nbank_account\tChecking\tMain account.\\r\\nBranch "
         "12\nbank_account\tSavings\t\n"},
    };
    for (const Row& row : rows) {
        const CliResult result = as("admin", "secret", row.command);
        if (result.status != 0 || result.out != row.out)
            storecheck::fail(__FILE__, __LINE__, row.command[0] + ": " + described(result));
    }
    const CliResult check = runCli({"--table", TableFile, "check", "--format=json"});
    CHECK_EQ(check.status, 0);
    CHECK_EQ(check.out, "{\"table\": \"Gatekeep.acl\", \"size\": 6565, \"users\": [{\"slot\": 1, "
                        "\"login_name\": \"admin\"}, {\"slot\": 2, \"login_name\": \"clerk\"}, "
                        "{\"slot\": 3, \"login_name\": \" " +
                            Renee + " \"}], \"faults\": [], \"sound\": true}\n");
}

TEST(AControlCharacterNeverReachesTheTable)
{
    // The CLI's texts are UTF-8; "\x1b" is ESC, "\xc2\x81" U+0081 (the table's
    // byte 0x81), "\xc2\x85" U+0085 and "\xc2\x9b" U+009B, which Windows-1252
    // lacks altogether (its 0x85 and 0x9B are printable).
    const std::string stored = ": tabs, line breaks, escapes and other control characters cannot "
                               "be stored.\n";
    struct Row
    {
        std::vector<std::string> command; // signed in as admin
        std::string input;                // after admin's password; none: nothing is read
        std::string err;
    };
    const Row rows[] = {
        // The texts of the command line, before any password is read.
        {{"add", "evil\r\x1b[K", "--path", "/x"},
         "",
         ": The login name holds a control character (U+000D at character 5)" + stored},
        {{"add", "bob\t", "--path", "/x"},
         "",
         ": The login name holds a control character (U+0009 at character 4)" + stored},
        {{"add", "b\aob", "--path", "/x"}, "", "(U+0007 at character 2)"},
        {{"add", "b\x7f", "--path", "/x"}, "", "(U+007F at character 2)"},
        {{"add", "b\xc2\x81", "--path", "/x"}, "", "(U+0081 at character 2)"},
        {{"add", "b\xc2\x85", "--path", "/x"}, "", ": login name: U+0085"},
        {{"add", "b\xc2\x9b", "--path", "/x"}, "", ": login name: U+009B"},
        {{"add", "bob", "--path", "/srv/\n"},
         "",
         ": The data path holds a control character (U+000A at character 6)" + stored},
        {{"edit", "clerk", "--name", "cl\x1b"}, "", ": The login name holds a control character"},
        {{"edit", "clerk", "--path", "/a\rb"}, "", ": The data path holds a control character"},
        {{"account-add", "admin", "Pay\x1b[2J"},
         "",
         ": The account name holds a control character (U+001B at character 4)" + stored},
        {{"account-edit", "admin", "Checking", "--name", "\tChecking"},
         "",
         ": The account name holds a control character"},
        {{"account-add", "admin", "Loan", "--description", "one\ttwo"},
         "",
         ": The description holds a control character (U+0009 at character 4): line breaks are "
         "kept, but tabs, escapes and other control characters cannot be stored.\n"},
        // A lone CR is no line break; a lone LF is one, stored as CR LF.
        {{"account-add", "admin", "Loan", "--description", "one\rtwo"},
         "",
         ": The description holds a control character (U+000D at character 4)"},
        // New passwords, from standard input: the session core's refusal,
        // which never names a password's characters.
        {{"add", "bob", "--path", "/b"},
         "p\x1bw\n",
         ": The password holds a control character" + stored},
        {{"add", "bob", "--path", "/b"}, "p\tw\n", ": The password holds a control character: "},
        {{"add", "bob", "--path", "/b"}, "p\aw\n", ": The password holds a control character: "},
        {{"add", "bob", "--path", "/b"},
         std::string("p\0w\n", 4),
         ": The password holds a control character: "},
        {{"edit", "clerk", "--password"}, "p\x7fw\n", ": The password holds a control character: "},
    };
    for (const Row& row : rows) {
        useFixture();
        std::vector<std::string> arguments = {"--table", TableFile, "--user", "admin"};
        arguments.insert(arguments.end(), row.command.begin(), row.command.end());
        const CliResult result =
            runCli(arguments, row.input.empty() ? std::string() : "secret\n" + row.input);
        std::string command;
        for (const std::string& argument : row.command)
            command += " " + argument;
        if (result.status != 1 || result.err.find(row.err) == std::string::npos ||
            !result.out.empty() || readFile(TableFile) != fixture())
            storecheck::fail(__FILE__, __LINE__,
                             storecheck::show(command) + ": " + described(result) +
                                 "; expected exit 1 and " + storecheck::show(row.err));
    }

    // The first user's name is trimmed first, as the first-use dialog does.
    CHECK(::unlink(TableFile.c_str()) == 0);
    const CliResult inside = runCli({"--table", TableFile, "init", "ch\x1bief"}, "");
    CHECK_EQ(inside.status, 1);
    CHECK(inside.err.find("The login name holds a control character (U+001B at character 3)") !=
          std::string::npos);
    CHECK(!fileExists(TableFile));
    const CliResult trimmed = runCli({"--table", TableFile, "init", "\tchief\r"}, "\tpw\r\n");
    CHECK_EQ(trimmed.status, 0);
    CHECK_EQ(userLine(onDisk(), 1).substr(0, 9), std::string("chief/pw/"));

    // Printable characters of Windows-1252 are taken, blanks around a name
    // kept as ever.
    useFixture();
    const CliResult euro = as("admin", "secret",
                              {"add",
                               " \xe2\x82\xac"
                               "uro\xc3\xa9 ",
                               "--path", "/\xe2\x80\xa6"},
                              "\xe2\x82\xac\xe2\x80\xa6\n");
    CHECK_EQ(euro.status, 0);
    CHECK_EQ(userLine(onDisk(), 4), std::string(" \x80uro\xe9 /\x80\x85//\x85/111111"));
}

TEST(WhatATableMadeElsewhereHoldsIsShownVisiblyAndReported)
{
    TableSlots table = decode(fixture());
    UserData clerk = *table.user(2);
    clerk.loginName = "evil\r\x1b[K";
    clerk.dataPath = "/srv/\x81\x7f\n";
    table.setUser(2, clerk);
    table.setAccount(1, {0, "Check\x1b]0;x\a", "Main\r\n\tBranch\x9b 12"});
    writeFile(TableFile, table.bytes());

    // For people: every control character visible, the stored line breaks
    // of a description kept as lines.
    const CliResult list = as("admin", "secret", {"ls"});
    CHECK_EQ(list.status, 0);
    CHECK_EQ(list.out, "admin\nevil\\r\\x1b[K\n " + Renee + " \n");
    const CliResult shown = as("admin", "secret", {"show", "evil\r\x1b[K"});
    CHECK_EQ(shown.status, 0);
    CHECK(shown.out.rfind("Login name: evil\\r\\x1b[K\nPassword: Hidden\nData path: "
                          "/srv/\\x81\\x7f\\n\n",
                          0) == 0);
    const CliResult admin = as("admin", "secret", {"show", "admin"});
    CHECK(admin.out.find("Bank account: Check\\x1b]0;x\\x07\n    Main\n    \\tBranch\xe2\x80\xba "
                         "12\n") != std::string::npos);

    // The machine formats keep the text exact, in their own escapes; JSON
    // escapes DEL and the C1 controls too, which it may.
    const CliResult json = as("admin", "secret", {"show", "evil\r\x1b[K", "--format=json"});
    CHECK(json.out.rfind("{\"login_name\": \"evil\\u000d\\u001b[K\", \"password\": \"Hidden\", "
                         "\"data_path\": \"/srv/\\u0081\\u007f\\u000a\"",
                         0) == 0);
    const CliResult tsv = as("admin", "secret", {"ls", "--format=tsv"});
    CHECK_EQ(tsv.out, "admin\nevil\\r\x1b[K\n " + Renee + " \n");

    // check calls the table unsound and names each text.
    const CliResult check = runCli({"--table", TableFile, "check"});
    CHECK_EQ(check.status, 1);
    CHECK_EQ(check.out,
             "Table: Gatekeep.acl\nSize: 6565 bytes\nSlot 1: \"admin\"\nSlot 2: "
             "\"evil\\r\\x1b[K\"\nSlot 3: \" " +
                 Renee +
                 " \"\n"
                 "Fault: Slot 1 (\"admin\"), bank account 1: the account name holds a control "
                 "character (U+001B at character 6).\n"
                 "Fault: Slot 1 (\"admin\"), bank account 1: the description holds a control "
                 "character (U+0009 at character 7).\n"
                 "Fault: Slot 2 (\"evil\\r\\x1b[K\"): the login name holds a control character "
                 "(U+000D at character 5).\n"
                 "Fault: Slot 2 (\"evil\\r\\x1b[K\"): the data path holds a control character "
                 "(U+0081 at character 6).\n"
                 "The table is not sound: 4 faults.\n");
}

namespace {

// A byte a terminal would obey: C0 but the line break, DEL, or the start of
// a C1 control in UTF-8.
bool obeyedByATerminal(const std::string& text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 && byte != '\n') || byte == 0x7f)
            return true;
        if (byte == 0xc2 && i + 1 < text.size() &&
            static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9f)
            return true;
    }
    return false;
}

} // namespace

// What the person typed, or a table made elsewhere holds, comes back in
// messages on standard error; a control character in it shows, so it can
// never clear the screen or hide the message. The message's own line
// breaks stay.
TEST(WhatTheCommandLineSaysOnStandardErrorNeverObeysAControlCharacter)
{
    struct Row
    {
        std::vector<std::string> arguments;
        std::string input;
        int status;
        std::string err; // whole
    };
    const std::string usage = "Usage: larkledger-security-cli [--table FILE] [--user NAME] "
                              "COMMAND [ARGUMENT]...; 'larkledger-security-cli --help' lists "
                              "the commands\n";
    const Row rows[] = {
        {{"--x\x1b[2J"},
         "",
         ExitBadInput,
         "larkledger-security-cli: unknown option '--x\\x1b[2J'\n" + usage},
        {{"--table", TableFile, "--user", "admin", "l\xc2\x9bs"},
         "",
         ExitBadInput,
         "larkledger-security-cli: unknown command 'l\\x9bs'\n" + usage},
        {{"--table", "T\x1b[2J.acl", "--user", "admin", "ls"},
         "secret\n",
         ExitFileTrouble,
         "larkledger-security-cli: T\\x1b[2J.acl: there is no user table here; init creates "
         "one.\n"},
        {{"--table", TableFile, "--user", "admin", "edit", "clerk", "--grant", "X\x1b[2J"},
         "",
         ExitBadInput,
         "larkledger-security-cli: unknown right 'X\\x1b[2J': RIGHT is one of DeleteRecord "
         "DeleteUsers ModifyRecord ModifyUsers AddRecord AddUsers\n" +
             usage},
        // A notice of work done.
        {{"--table", TableFile, "backup", "copy\x1b[2J"},
         "",
         ExitDone,
         "larkledger-security-cli: copied Gatekeep.acl to copy\\x1b[2J (6565 bytes)\n"},
    };
    for (const Row& row : rows) {
        useFixture();
        const CliResult result = runCli(row.arguments, row.input);
        std::string command;
        for (const std::string& argument : row.arguments)
            command += " " + argument;
        if (result.status != row.status || result.err != row.err || obeyedByATerminal(result.err))
            storecheck::fail(__FILE__, __LINE__,
                             storecheck::show(command) + ": " + described(result) +
                                 "; expected exit " + std::to_string(row.status) + " and " +
                                 storecheck::show(row.err));
    }

    // The password prompt names the user as typed, at a terminal; a table
    // made elsewhere may hold such a name.
    TableSlots table = decode(fixture());
    table.setLoginName(2, "cl\x1b[2Jerk");
    writeFile(TableFile, table.bytes());
    TerminalJob job({"--table", TableFile, "--user", "cl\x1b[2Jerk", "ls"});
    const std::string shown = job.waitFor("Password for cl\\x1b[2Jerk: ");
    if (obeyedByATerminal(shown))
        storecheck::fail(__FILE__, __LINE__, "the prompt: " + storecheck::show(shown));
    job.type("Pa55w0rd\r");
    expect("the end", job.nextChange(), "exited 0");
}

TEST(PasswordsFromFileDescriptors)
{
    useFixture();
    writeFile("signin.txt", "secret\n");
    writeFile("new.txt", "bobpw\n");
    // Standard input stays free for anything else.
    const std::string command = std::string("'") + cliProgram() +
                                "' --table Gatekeep.acl --user admin --password-fd 3 add bob "
                                "--path /b --new-password-fd 4 3<signin.txt 4<new.txt </dev/null";
    CHECK_EQ(std::system(command.c_str()), 0);
    CHECK_EQ(userNamed(onDisk(), "bob").password, std::string("bobpw"));
}

TEST(HelpForOneCommandAndOneUsageLine)
{
    const CliResult help = runCli({"help", "add"});
    CHECK_EQ(help.status, 0);
    CHECK_EQ(help.out, runCli({"add", "--help"}).out);
    CHECK(help.out.rfind("Usage: larkledger-security-cli [OPTION]... add NAME --path PATH", 0) ==
          0);
    for (const char* flag : {"-V", "-v", "--version"})
        CHECK_EQ(runCli({flag}).out, runCli({"--version"}).out);

    const CliResult mistake = runCli({"--table", TableFile, "--user", "admin", "show"});
    CHECK_EQ(mistake.status, 1);
    std::size_t usages = 0;
    for (std::size_t at = mistake.err.find("Usage:"); at != std::string::npos;
         at = mistake.err.find("Usage:", at + 1))
        ++usages;
    CHECK_EQ(usages, std::size_t(1));
}

TEST(WhatIsNoTableIsNamedAsSuch)
{
    useFixture();
    CHECK(::mkdir("folder", 0700) == 0);
    CHECK_EQ(runCli({"--table", "folder", "check"}).err,
             std::string("larkledger-security-cli: folder is a folder, not a user table; give "
                         "the table file with --table, e.g. folder/Gatekeep.acl.\n"));
    CHECK_EQ(runCli({"--table", "folder", "--user", "admin", "ls"}, "secret\n").status, 4);
}

TEST(BackupMakesAPrivateCopyCheckReads)
{
    useFixture();
    writeFile("old.acl", "not a table");
    CHECK(::chmod("old.acl", 0644) == 0);
    const CliResult made = runCli({"--table", TableFile, "backup", "old.acl"});
    CHECK_EQ(made.status, 0);
    CHECK_EQ(readFile("old.acl"), fixture());
    struct stat st
    {
    };
    CHECK(::stat("old.acl", &st) == 0 && (st.st_mode & 0777) == 0600);
    CHECK_EQ(runCli({"--table", "old.acl", "check", "-q"}).status, 0);
    CHECK_EQ(runCli({"-q", "--table", TableFile, "backup", "old.acl"}).err, std::string());

    const CliResult itself = runCli({"--table", TableFile, "backup", "./" + TableFile});
    CHECK_EQ(itself.status, 1);
    CHECK_EQ(readFile(TableFile), fixture());
}

namespace {

struct RecordingSink : AuditSink
{
    std::vector<AuditEvent> events;
    void record(const AuditEvent& event) override { events.push_back(event); }
};

std::string warning(const std::string& what, const std::string& fields)
{
    return "WARNING " + what + ": table=\"Gatekeep.acl\" " + fields;
}

} // namespace

// The command line refuses a sign-in as the windows do, and each refusal
// leaves one line, whatever step refused it.
TEST(EveryRefusedSignInOfTheCommandLineIsRecorded)
{
    struct Row
    {
        const char* user;
        const char* passwordLine;
        std::string logged;
    };
    const Row rows[] = {
        {"", "pw\n", warning("sign-in refused", R"(user="" target="" reason="empty name")")},
        {"nobody", "pw\n",
         warning("sign-in refused", R"(user="" target="nobody" reason="unknown name")")},
        {"clerk", "\n",
         warning("sign-in refused", R"(user="" target="clerk" reason="empty password")")},
        {"clerk", "nope\n",
         warning("sign-in refused", R"(user="" target="clerk" reason="wrong password")")},
        // Refused before the session core: texts the table cannot hold.
        {"\xc5\x81ukasz", "pw\n",
         warning("sign-in refused", R"(user="" target="?ukasz" reason="unknown name")")},
        {"adm\xe9", "pw\n",
         warning("sign-in refused", R"(user="" target="adm?" reason="unknown name")")},
        {"clerk", "Pa55w0r\xc5\x82\n",
         warning("sign-in refused", R"(user="" target="clerk" reason="wrong password")")},
    };
    for (const Row& row : rows) {
        useFixture();
        int pipe[2];
        CHECK(::pipe(pipe) == 0);
        CHECK(::write(pipe[1], row.passwordLine, std::strlen(row.passwordLine)) ==
              static_cast<ssize_t>(std::strlen(row.passwordLine)));
        ::close(pipe[1]);
        const Invocation invocation =
            std::get<Invocation>(parseArguments({"--table", TableFile, "--user", row.user,
                                                 "--password-fd", std::to_string(pipe[0]), "ls"}));
        RecordingSink sink;
        SecretReader secrets;
        std::ostringstream out;
        std::ostringstream err;
        const int status = runCommand(invocation, secrets, out, err, &sink);
        ::close(pipe[0]);
        CHECK_EQ(status, int(ExitSignInRefused));
        std::vector<std::string> logged;
        for (const AuditEvent& event : sink.events)
            logged.push_back("WARNING " + auditLine(event));
        // Every line names the system account beside the table's login.
        std::string expected = row.logged;
        expected.insert(expected.find("user=\"\"") + 7, systemFields());
        if (logged != std::vector<std::string>{expected})
            storecheck::fail(__FILE__, __LINE__,
                             std::string(row.user) + ": " + std::to_string(logged.size()) +
                                 " lines, the first " +
                                 (logged.empty() ? std::string("none") : logged.front()));
    }
}

// At a terminal a new password is asked twice: a typing slip must not lock
// anyone out.
TEST(ANewPasswordIsAskedTwiceAtATerminal)
{
    struct Row
    {
        const char* again;
        std::string ended;
        bool added;
    };
    const Row rows[] = {
        {"bobpw", "exited 0", true},
        {"bobpx", "exited 1", false},
    };
    for (const Row& row : rows) {
        useFixture();
        TerminalJob job({"--table", TableFile, "--user", "admin", "add", "bob", "--path", "/b"});
        job.waitFor(PasswordPrompt);
        job.type("secret\r");
        job.waitFor("Password for the new user bob: ");
        job.type("bobpw\r");
        job.waitFor("Again, to be sure: ");
        job.type(std::string(row.again) + "\r");
        expect(row.again, job.nextChange(), row.ended);
        CHECK_EQ(onDisk().findUser("bob") != 0, row.added);
    }
}

namespace {

// A file opened for a child to inherit, as `3<FILE` in a shell.
struct InheritedFile
{
    explicit InheritedFile(const std::string& path) : fd(::open(path.c_str(), O_RDONLY))
    {
        CHECK(fd >= 0);
    }
    ~InheritedFile() { ::close(fd); }
    InheritedFile(const InheritedFile&) = delete;
    InheritedFile& operator=(const InheritedFile&) = delete;
    std::string number() const { return std::to_string(fd); }
    int fd;
};

struct FileState
{
    bool exists = false;
    mode_t type = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    std::string bytes;

    bool operator==(const FileState& other) const
    {
        return exists == other.exists && type == other.type && mode == other.mode &&
               owner == other.owner && bytes == other.bytes;
    }
};

std::ostream& operator<<(std::ostream& out, const FileState& state)
{
    if (!state.exists)
        return out << "(nothing)";
    return out << "type " << (state.type >> 12) << " mode " << std::oct << state.mode << std::dec
               << " owner " << state.owner << " " << storecheck::show(state.bytes);
}

// What stands at `path`, without following a link or opening anything but
// a regular file.
FileState stateOf(const std::string& path)
{
    FileState state;
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return state;
    state.exists = true;
    state.type = st.st_mode & S_IFMT;
    state.mode = st.st_mode & 07777;
    state.owner = st.st_uid;
    if (S_ISREG(st.st_mode))
        state.bytes = readFile(path);
    return state;
}

} // namespace

// Every source of a password ends a line alike, and a line far longer than
// any password ends the read at once, without a word of what it held.
TEST(PasswordsFromEverySourceAlike)
{
    useFixture();
    struct Source
    {
        const char* name;
        bool byDescriptor;
    };
    int made = 0;
    for (const Source source : {Source{"standard input", false}, Source{"descriptors", true}}) {
        for (const char* end : {"\n", "\r\n"}) {
            useFixture();
            const std::string user = "u" + std::to_string(++made);
            const std::string where =
                std::string(source.name) + (std::string(end) == "\n" ? ", LF" : ", CR LF");
            writeFile("signin.txt", std::string("secret") + end);
            writeFile("new.txt", user + "pw" + end);
            std::vector<std::string> arguments = {"--table", TableFile, "--user", "admin"};
            CliResult result;
            if (source.byDescriptor) {
                const InheritedFile signIn("signin.txt");
                const InheritedFile fresh("new.txt");
                arguments.insert(arguments.end(),
                                 {"--password-fd", signIn.number(), "add", user, "--path", "/u",
                                  "--new-password-fd", fresh.number()});
                result = runCli(arguments);
            } else {
                arguments.insert(arguments.end(), {"add", user, "--path", "/u"});
                result = runCli(arguments, readFile("signin.txt") + readFile("new.txt"));
            }
            const TableSlots table = onDisk();
            const int slot = table.findUser(user);
            if (result.status != 0 || slot == 0 || table.user(slot)->password != user + "pw")
                storecheck::fail(__FILE__, __LINE__, where + ": " + described(result));
            // And the user signs in with the same line.
            writeFile("signin.txt", user + "pw" + end);
            const InheritedFile again("signin.txt");
            const CliResult signedIn = runCli(
                {"--table", TableFile, "--user", user, "--password-fd", again.number(), "ls"});
            if (signedIn.status != 0)
                storecheck::fail(__FILE__, __LINE__,
                                 where + ", signing in: " + described(signedIn));
        }
    }

    const std::string tooLong = ": no line end within 256 bytes, far more than any password; "
                                "nothing was written.\n";
    const InheritedFile zeros("/dev/zero");
    struct Row
    {
        std::vector<std::string> arguments; // after --table, --user admin
        std::string input;
        std::string err;
    };
    const Row rows[] = {
        {{"--password-fd", zeros.number(), "ls"},
         "",
         "file descriptor " + zeros.number() + tooLong},
        {{"add", "bob", "--path", "/b", "--new-password-fd", zeros.number()},
         "secret\n",
         "file descriptor " + zeros.number() + tooLong},
        {{"ls"}, std::string(300, 'x') + "\n", "standard input" + tooLong},
        {{"add", "bob", "--path", "/b"},
         "secret\n" + std::string(257, 'y') + "\n",
         "standard input" + tooLong},
    };
    useFixture();
    for (const Row& row : rows) {
        std::vector<std::string> arguments = {"--table", TableFile, "--user", "admin"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const CliResult result = runCli(arguments, row.input);
        if (result.status != 1 || result.err != "larkledger-security-cli: " + row.err ||
            readFile(TableFile) != fixture())
            storecheck::fail(__FILE__, __LINE__,
                             storecheck::show(row.arguments) + ": " + described(result));
    }
}

// A descriptor named for a password that is a terminal is read as the
// terminal is read as standard input: no echo, a new password twice.
TEST(ATerminalNamedForAPasswordIsReadWithoutEcho)
{
    useFixture();
    TerminalJob job({"--table", TableFile, "--user", "admin", "--password-fd", "0", "add", "bob",
                     "--path", "/b", "--new-password-fd", "0"});
    std::string shown = job.waitFor(PasswordPrompt);
    expectQuiet("the sign-in password", job);
    job.type("secret\r");
    shown += job.waitFor("Password for the new user bob: ");
    expectQuiet("the new password", job);
    job.type("bobpw\r");
    shown += job.waitFor("Again, to be sure: ");
    expectQuiet("the new password again", job);
    job.type("bobpw\r");
    expect("the end", job.nextChange(), "exited 0");
    CHECK_EQ(shown.find("secret"), std::string::npos);
    CHECK_EQ(shown.find("bobpw"), std::string::npos);
    CHECK_EQ(userNamed(onDisk(), "bob").password, std::string("bobpw"));
}

// What cannot take a copy is refused before the writer lock is even asked
// for (here another writer holds it), and is never opened, made private or
// written: a FIFO, a device, a folder, a link to any file.
TEST(BackupRefusesWhatIsNoFileOfItsOwnBeforeAnyLock)
{
    const auto refusals = [](bool asRoot) {
        useFixture();
        CHECK(::mkfifo("fifo", 0600) == 0 && ::chmod("fifo", 0666) == 0);
        CHECK(::mkdir("folder", 0755) == 0);
        writeFile("kept.acl", "an earlier copy");
        CHECK(::chmod("kept.acl", 0644) == 0);
        CHECK(::symlink("fifo", "to-fifo") == 0 && ::symlink("kept.acl", "to-file") == 0);
        // Root makes a device of its own (where the system lets it, as a
        // container may not), never risking the system's; anyone else
        // tries the system's, which they could not change anyway.
        std::string device = "/dev/null";
        if (asRoot) {
            device = ::mknod("null", S_IFCHR | 0666, ::makedev(1, 3)) == 0 ? "null" : "";
            CHECK(device.empty() || ::chmod("null", 0666) == 0);
        }
        const std::string notRegular = " is not a regular file (a device, a FIFO or a socket): the "
                                       "copy goes only to a file of your own, or where nothing is.";
        const std::string link = " is a symbolic link: the copy is never written through a link; "
                                 "give the file's own path, or another FILE.";
        const std::vector<std::pair<std::string, std::string>> rows = {
            {"fifo", "fifo" + notRegular},
            {device, device + notRegular},
            {"folder", "folder is a folder: give the copy's file name, e.g. folder/Gatekeep.acl."},
            {"to-fifo", "to-fifo" + link},
            {"to-file", "to-file" + link},
        };
        Session holder(TableFile);
        const Session::WriterTake hold = holder.holdWriterLock();
        CHECK(hold.hold);
        for (const auto& [copy, message] : rows) {
            if (copy.empty())
                continue;
            const FileState before = stateOf(copy);
            const FileState fifo = stateOf("fifo");
            const FileState kept = stateOf("kept.acl");
            const CliResult result = runCli({"--table", TableFile, "--wait", "0", "backup", copy});
            if (result.status != 4 || result.err != "larkledger-security-cli: " + message + "\n" ||
                !(stateOf(copy) == before) || !(stateOf("fifo") == fifo) ||
                !(stateOf("kept.acl") == kept))
                storecheck::fail(__FILE__, __LINE__,
                                 copy + (asRoot ? " as root: " : ": ") + described(result) +
                                     "; now " + storecheck::show(stateOf(copy)));
        }
        CHECK_EQ(readFile(TableFile), fixture());
    };
    refusals(::geteuid() == 0);
    if (::geteuid() == 0) {
        storecheck::clearWorkingDir();
        storecheck::runAsOrdinaryUser([&] { refusals(false); });
    }
}

// A file another user owns at the copy's or the new table's place is never
// written, made private, or filled: root's backup and init refuse nobody's
// file, and nobody's refuse root's. Nor does init fill a table through a
// link.
TEST(BackupAndInitLeaveAnotherUsersFileAlone)
{
    struct Party
    {
        uid_t caller;
        uid_t other;
    };
    std::vector<Party> parties = {{::geteuid(), ::geteuid()}};
    if (::geteuid() == 0)
        parties = {{0, 65534}, {65534, 0}};
    for (const Party party : parties) {
        storecheck::clearWorkingDir();
        useFixture();
        CHECK(::chown(".", party.caller, party.caller) == 0);
        CHECK(::chown(TableFile.c_str(), party.caller, party.caller) == 0);
        CHECK(::mkdir("new", 0777) == 0 && ::chmod("new", 0777) == 0);
        // Theirs, open to all, as someone laying a trap leaves them.
        const auto theirs = [&](const std::string& path, const std::string& bytes) {
            writeFile(path, bytes);
            CHECK(::chown(path.c_str(), party.other, party.other) == 0);
            CHECK(::chmod(path.c_str(), 0666) == 0);
        };
        theirs("theirs.acl", "their own");
        theirs("new/Gatekeep.acl", "");
        // A link of the caller's own to an empty file.
        CHECK(::mkdir("linked", 0777) == 0 && ::chmod("linked", 0777) == 0);
        writeFile("elsewhere.acl", "");
        CHECK(::chown("elsewhere.acl", party.caller, party.caller) == 0);
        CHECK(::symlink("../elsewhere.acl", "linked/Gatekeep.acl") == 0);
        CHECK(::lchown("linked/Gatekeep.acl", party.caller, party.caller) == 0);

        struct Row
        {
            std::vector<std::string> arguments;
            std::string file; // what must stay as it was
            std::string err;
            bool needsTwo;
        };
        const Row rows[] = {
            {{"--table", TableFile, "backup", "theirs.acl"},
             "theirs.acl",
             "theirs.acl belongs to another user: the copy never replaces someone else's file; "
             "remove it, or give another FILE.",
             true},
            {{"--table", "new/Gatekeep.acl", "init", "chief"},
             "new/Gatekeep.acl",
             "new/Gatekeep.acl belongs to another user: init fills only a file of its own; "
             "remove it, or give init another --table FILE.",
             true},
            {{"--table", "linked/Gatekeep.acl", "init", "chief"},
             "elsewhere.acl",
             "linked/Gatekeep.acl is a symbolic link: init makes the table only as a file of its "
             "own, never through a link; give the file's own path with --table.",
             false},
        };
        const storecheck::ChildOutcome outcome =
            storecheck::runInChild(party.caller, party.caller, [&] {
                std::string report;
                for (const Row& row : rows) {
                    if (row.needsTwo && party.caller == party.other)
                        continue;
                    const FileState before = stateOf(row.file);
                    const CliResult result = runCli(row.arguments, "pw\n");
                    if (result.status != 4 ||
                        result.err != "larkledger-security-cli: " + row.err + "\n" ||
                        !(stateOf(row.file) == before))
                        report += storecheck::show(row.arguments) + ": " + described(result) +
                                  "; " + storecheck::show(stateOf(row.file)) + "\n";
                }
                return report;
            });
        if (outcome.status != 0 || !outcome.report.empty())
            storecheck::fail(__FILE__, __LINE__,
                             "run as " + std::to_string(party.caller) + ": exit " +
                                 std::to_string(outcome.status) + "\n" + outcome.report);
    }
}

// The copy is written beside and renamed in once whole: a copy that fails
// on the way (here a file size limit, as a full disk or a quota would)
// leaves the earlier copy as it was and nothing else.
TEST(AFailedBackupLeavesTheEarlierOneWhole)
{
    useFixture();
    const std::string earlier = fixture().substr(0, 6000) + std::string(565, 'e');
    writeFile("old.acl", earlier);
    CHECK(::chmod("old.acl", 0600) == 0);
    // 4 blocks of 512 bytes (dash) or of 1024 (bash): less than a table.
    const std::string command = std::string("ulimit -f 4; trap '' XFSZ; exec '") + cliProgram() +
                                "' --table Gatekeep.acl backup old.acl 2>/dev/null";
    const int status = std::system(command.c_str());
    CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 4);
    CHECK_EQ(readFile("old.acl"), earlier);
    CHECK(listWorkingDir() == std::vector<std::string>({TableFile, "old.acl"}));
    // Once it can, it replaces the earlier copy whole.
    CHECK_EQ(runCli({"--table", TableFile, "backup", "old.acl"}).status, 0);
    CHECK_EQ(readFile("old.acl"), fixture());
    CHECK(listWorkingDir() == std::vector<std::string>({TableFile, "old.acl"}));
}

// A copy holds every password: the trail says who took it, of which table,
// and where to.
TEST(ABackupIsRecorded)
{
    useFixture();
    const Invocation invocation =
        std::get<Invocation>(parseArguments({"--table", TableFile, "backup", "old.acl"}));
    RecordingSink sink;
    SecretReader secrets;
    std::ostringstream out;
    std::ostringstream err;
    CHECK_EQ(runCommand(invocation, secrets, out, err, &sink), 0);
    const passwd* me = ::getpwuid(::getuid());
    CHECK(me != nullptr);
    std::vector<std::string> logged;
    for (const AuditEvent& event : sink.events)
        logged.push_back(auditLine(event));
    CHECK_EQ(logged, std::vector<std::string>({R"(table copied: table="Gatekeep.acl" user="")" +
                                               systemFields() + R"( target="" copy="old.acl")"}));
}

// A clerk without any user right changes their own password: the sign-in's
// password is the old one, the new one follows; the placeholder and a new
// one that fits no field are refused with the file untouched.
TEST(PasswdChangesOnlyYourOwnPassword)
{
    useFixture();
    CliResult refused = as("clerk", "Pa55w0rd", {"passwd"}, "NewPassW\n");
    CHECK_EQ(refused.status, int(ExitRefused));
    CHECK(refused.err.find("The NewPassWord is a reserved word") != std::string::npos);
    CHECK_EQ(readFile(TableFile), fixture());
    // Nor may an administrator hand it to a user, new or old.
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"add", "copy", "--path", "/c"},
          std::vector<std::string>{"edit", "clerk", "--password"}}) {
        const CliResult given = as("admin", "secret", command, "newpassw\n");
        CHECK_EQ(given.status, int(ExitRefused));
        CHECK(given.err.find("The NewPassWord is a reserved word") != std::string::npos);
        CHECK_EQ(readFile(TableFile), fixture());
    }
    CHECK_EQ(as("clerk", "Pa55w0rd", {"passwd"}, "\n").status, int(ExitBadInput));
    CHECK_EQ(as("clerk", "Pa55w0rd", {"passwd"}, "123456789\n").status, int(ExitBadInput));
    CHECK_EQ(as("clerk", "wrong", {"passwd"}, "Fresh1\n").status, int(ExitSignInRefused));
    CHECK_EQ(readFile(TableFile), fixture());

    const CliResult done = as("clerk", "Pa55w0rd", {"passwd"}, "Fresh1\n");
    CHECK_EQ(done.status, 0);
    CHECK(done.err.find("Your password has been changed.") != std::string::npos);
    CHECK_EQ(as("clerk", "Pa55w0rd", {"ls"}).status, int(ExitSignInRefused));
    CHECK_EQ(as("clerk", "Fresh1", {"ls"}).status, 0);
    CHECK_EQ(as("admin", "secret", {"ls"}).status, 0);
    // Operands are not taken: it is always one's own password.
    CHECK_EQ(as("clerk", "Fresh1", {"passwd", "admin"}, "x\n").status, int(ExitBadInput));
}

// A no-op that a script asked for is recorded as such, not as a refusal,
// and every line names the system account.
TEST(ANoOpIsRecordedAsNoChange)
{
    struct Row
    {
        std::vector<std::string> command;
        std::string logged;
    };
    const Row rows[] = {
        {{"add", "clerk", "--path", "/x", "--if-missing"},
         R"(no change: table="Gatekeep.acl" user="admin")" + systemFields() +
             R"( target="clerk" reason="a user of that name is there already")"},
        {{"rm", "nobody", "--if-present"},
         R"(no change: table="Gatekeep.acl" user="admin")" + systemFields() +
             R"( target="nobody" reason="no user of that name to delete")"},
    };
    for (const Row& row : rows) {
        useFixture();
        int pipe[2];
        CHECK(::pipe(pipe) == 0);
        const std::string lines = "secret\nnewpw\n";
        CHECK(::write(pipe[1], lines.data(), lines.size()) == static_cast<ssize_t>(lines.size()));
        ::close(pipe[1]);
        std::vector<std::string> arguments = {"--table",
                                              TableFile,
                                              "--user",
                                              "admin",
                                              "--password-fd",
                                              std::to_string(pipe[0]),
                                              "--new-password-fd",
                                              std::to_string(pipe[0])};
        if (row.command[0] == "rm")
            arguments.resize(6);
        arguments.insert(arguments.end(), row.command.begin(), row.command.end());
        const Invocation invocation = std::get<Invocation>(parseArguments(arguments));
        RecordingSink sink;
        SecretReader secrets;
        std::ostringstream out;
        std::ostringstream err;
        CHECK_EQ(runCommand(invocation, secrets, out, err, &sink), 0);
        ::close(pipe[0]);
        std::vector<std::string> logged;
        for (const AuditEvent& event : sink.events)
            logged.push_back(auditLine(event));
        CHECK_EQ(logged.size(), std::size_t(2));
        CHECK_EQ(logged.back(), row.logged);
        CHECK_EQ(readFile(TableFile), fixture());
    }
}

// A backup goes back in the table's place only for a user who could add,
// change and delete every user anyway, and only as a sound table, refused
// in check's words; it comes back whole, with what was added since gone.
TEST(RestorePutsASoundBackupBackForWhoMayReplaceEveryUser)
{
    useFixture();
    CHECK_EQ(runCli({"--table", TableFile, "backup", "old.acl"}).status, 0);
    CHECK_EQ(as("admin", "secret", {"add", "bob", "--path", "/b"}, "bobpw\n").status, 0);
    const std::string changed = readFile(TableFile);

    const CliResult clerk = as("clerk", "Pa55w0rd", {"restore", "old.acl"});
    CHECK_EQ(clerk.status, 3);
    CHECK_EQ(clerk.err, std::string("larkledger-security-cli: You may not restore the table from "
                                    "a backup: that needs the AddUsers right.\n"));
    CHECK_EQ(readFile(TableFile), changed);

    TableSlots twins = decode(fixture());
    twins.setLoginName(2, "ADMIN");
    for (const std::string& unsound : {fixture().substr(0, 1000), twins.bytes()}) {
        writeFile("bad.acl", unsound);
        std::string words = "Nothing was restored: the backup is not a sound table.";
        for (const std::string& fault : checkTable(unsound).faults)
            words += " " + fault;
        const CliResult refused = as("admin", "secret", {"restore", "bad.acl"});
        CHECK_EQ(refused.status, 1);
        CHECK_EQ(refused.err, "larkledger-security-cli: " + words + "\n");
        CHECK_EQ(readFile(TableFile), changed);
    }

    const CliResult restored = as("admin", "secret", {"restore", "old.acl"});
    CHECK_EQ(restored.status, 0);
    CHECK_EQ(restored.err, std::string("larkledger-security-cli: restored Gatekeep.acl from "
                                       "old.acl (6565 bytes)\n"));
    CHECK_EQ(readFile(TableFile), fixture());
}

// The backup is read only from a regular file named by its own path, and a
// wrong one is refused before anyone is asked for a password: a FIFO would
// block, a device could set something going.
TEST(RestoreReadsOnlyARegularFile)
{
    useFixture();
    CHECK(::mkfifo("fifo", 0600) == 0);
    CHECK(::mkdir("folder", 0700) == 0);
    writeFile("old.acl", fixture());
    CHECK(::symlink("old.acl", "to-old") == 0);
    const std::string wrote = ": a backup is a file that backup wrote.";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"fifo", "fifo is not a regular file" + wrote},
        {"/dev/null", "/dev/null is not a regular file" + wrote},
        {"folder", "folder is a folder" + wrote},
        {"to-old", "to-old is a symbolic link: a backup is read only from its own path; give "
                   "that."},
        {"missing.acl", "missing.acl: File not found"},
    };
    const std::string before = readFile(TableFile);
    for (const auto& [file, message] : rows) {
        // No password given: none is asked for.
        const CliResult result =
            runCli({"--table", TableFile, "--user", "admin", "restore", file}, "");
        if (result.status != 4 || result.err != "larkledger-security-cli: " + message + "\n")
            storecheck::fail(__FILE__, __LINE__, file + ": " + described(result));
    }
    CHECK_EQ(readFile(TableFile), before);
}

namespace {

// Named here, as the store names its table in another file.
const std::string SharedTable = std::string("shared/") + Session::TableFileName;

CliResult onShared(const std::string& password, const std::vector<std::string>& command,
                   const std::string& more = "")
{
    std::vector<std::string> arguments = {"--table", SharedTable, "--user", "admin"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    return runCli(arguments, password + "\n" + more);
}

// A folder of root's (when the tests run as root) for the group of the
// ordinary user, who is a member; the fixture in it, root's, of `mode`.
void shareFixture(mode_t folderMode, mode_t tableMode)
{
    CHECK(::chmod(".", 0755) == 0);
    CHECK(::mkdir("shared", 0700) == 0);
    CHECK(::chown("shared", ::geteuid(), storecheck::ordinaryGid()) == 0);
    CHECK(::chmod("shared", folderMode) == 0);
    writeFile(SharedTable, fixture());
    CHECK(::chown(SharedTable.c_str(), ::geteuid(), storecheck::ordinaryGid()) == 0);
    CHECK(::chmod(SharedTable.c_str(), tableMode) == 0);
}

struct stat statOf(const std::string& path)
{
    struct stat st
    {
    };
    CHECK(::stat(path.c_str(), &st) == 0);
    return st;
}

} // namespace

// A member of the table's group, another user than its owner, backs the
// shared table up and restores it: the table stays the owner's, the
// group's, of its mode, so the group is not locked out.
TEST(AMemberRestoresASharedTableAndItStaysShared)
{
    shareFixture(02770, 0660);
    const struct stat before = statOf(SharedTable);
    const storecheck::ChildOutcome outcome =
        storecheck::runInChild(storecheck::ordinaryUid(), storecheck::ordinaryGid(), [] {
            std::string report;
            const auto expect = [&](const char* what, const CliResult& result) {
                if (result.status != 0)
                    report += std::string(what) + ": " + described(result) + "\n";
            };
            expect("backup", runCli({"--table", SharedTable, "backup", "shared/mine.acl"}));
            expect("add", onShared("secret", {"add", "bob", "--path", "/b"}, "bobpw\n"));
            expect("restore", onShared("secret", {"restore", "shared/mine.acl"}));
            return report;
        });
    CHECK_EQ(outcome.status, 0);
    CHECK_EQ(outcome.report, std::string());
    CHECK_EQ(readFile(SharedTable), fixture());
    const struct stat after = statOf(SharedTable);
    CHECK_EQ(after.st_uid, before.st_uid);
    CHECK_EQ(after.st_gid, before.st_gid);
    CHECK_EQ(after.st_mode & 07777, mode_t{0660});
}

// The safer setup: the group reads the table, only its owner writes. A
// member who is another user signs in and sees; a change is refused with
// the file's error (the writer lock it may not take) and writes nothing.
TEST(AMemberWhoMayOnlyReadSignsInAndSees)
{
    shareFixture(02750, 0640);
    const std::string table = readFile(SharedTable);
    const storecheck::ChildOutcome outcome =
        storecheck::runInChild(storecheck::ordinaryUid(), storecheck::ordinaryGid(), [] {
            std::string report;
            const CliResult listed = onShared("secret", {"ls"});
            if (listed.status != 0 || listed.out != "admin\nclerk\n " + Renee + " \n")
                report += "ls: " + described(listed) + "\n";
            const CliResult shown = onShared("secret", {"show", "clerk"});
            if (shown.status != 0 || shown.out.find("Login name: clerk\n") != 0)
                report += "show: " + described(shown) + "\n";
            const CliResult added = onShared("secret", {"add", "bob", "--path", "/b"}, "bobpw\n");
            // The folder takes no new files from a reader, so the writer
            // lock is refused first, saying what to fix.
            if (added.status != 4 ||
                added.err.find("larkledger-security-cli: " + SharedTable + ": ") != 0 ||
                added.err.find("writer lock") == std::string::npos)
                report += "add: " + described(added) + "\n";
            return report;
        });
    CHECK_EQ(outcome.status, 0);
    CHECK_EQ(outcome.report, std::string());
    CHECK_EQ(readFile(SharedTable), table);
}
