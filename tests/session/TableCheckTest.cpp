#include "../store/StoreCheck.h"

#include "session/TableCheck.h"
#include "store/IoError.h"
#include "store/Scramble.h"
#include "store/TableFile.h"

#include <functional>
#include <string>
#include <vector>

using storecheck::testData;

namespace {

std::string fixture()
{
    return testData("three-users.acl");
}

// The fixture with `damage` done to its records.
std::string damaged(const std::function<void(UserTable&)>& damage)
{
    UserTable table;
    table.setRecords(fixture(), SlotCount);
    damage(table);
    return table.bytes();
}

std::vector<std::string> userLines(const TableReport& report)
{
    std::vector<std::string> lines;
    for (const TableReport::User& user : report.users)
        lines.push_back(std::to_string(user.slot) + " " + user.loginName);
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += "    " + line + "\n";
    return text;
}

const std::string Renee = " Ren\xc3\xa9"
                          "e ";

} // namespace

TEST(TheFixtureIsSound)
{
    const TableReport report = checkTable(fixture());
    CHECK_EQ(report.size, UserTableFileSize);
    CHECK(report.readable);
    CHECK(report.sound());
    CHECK_EQ(userLines(report), std::vector<std::string>({"1 admin", "2 clerk", "3 " + Renee}));
}

TEST(EveryFaultIsNamed)
{
    struct Row
    {
        const char* what;
        std::string bytes;
        bool readable;
        std::vector<std::string> users;
        std::vector<std::string> faults;
    };
    const std::vector<std::string> all = {"1 admin", "2 clerk", "3 " + Renee};
    const Row rows[] = {
        {"a byte too many",
         fixture() + "x",
         true,
         all,
         {"The file holds 6566 bytes, not 6565: what follows the five records is never read, "
          "and the next save drops it."}},
        {"as large as a table file may be",
         fixture() + std::string(MaxTableFileSize - UserTableFileSize, 'x'),
         true,
         all,
         {"The file holds 1048576 bytes, not 6565: what follows the five records is never "
          "read, and the next save drops it."}},
        {"a byte larger",
         fixture() + std::string(MaxTableFileSize + 1 - UserTableFileSize, 'x'),
         false,
         {},
         {"The file holds 1048577 bytes, not 6565: it is larger than any table (1048576 bytes "
          "at most), so the table cannot be read (File access denied)."}},
        {"cut inside a record",
         fixture().substr(0, 100),
         false,
         {},
         {"The file holds 100 bytes, not 6565: it ends inside a record, so the table cannot be "
          "read (Read beyond end of file)."}},
        {"two whole records",
         fixture().substr(0, 2 * UserRecordSize),
         true,
         {"1 admin", "2 clerk"},
         {"The file holds 2626 bytes, not 6565: slots 3 to 5 are read as free."}},
        {"empty",
         "",
         true,
         {},
         {"The file holds 0 bytes, not 6565: it is read as a table without users."}},
        {"length bytes past their fields",
         damaged([](UserTable& t) {
             t.slot(1).Accounts[2].AccountDescription.Length = 71;
             t.slot(2).AddUsers.Length = 2;
             t.slot(5).DataPath.Length = 255; // the largest a byte holds fits
         }),
         true,
         all,
         {"Slot 1: the length byte of the bank account 3 description is 71, but the field holds "
          "70 characters.",
          "Slot 2: the length byte of the AddUsers right is 2, but the field holds 1 character."}},
        {"rights that are neither granted nor refused",
         damaged([](UserTable& t) {
             storeEncoded(t.slot(2).AddUsers, "2");
             t.slot(3).DeleteRecord.Length = 0;
         }),
         true,
         all,
         {"Slot 2 (\"clerk\"): the AddUsers right holds \"2\", neither \"0\" nor \"1\".",
          "Slot 3 (\"" + Renee +
              "\"): the DeleteRecord right holds \"\", neither \"0\" nor \"1\"."}},
        {"a name the add rule would refuse",
         damaged([](UserTable& t) { storeEncoded(t.slot(2).LoginName, "ADMIN "); }),
         true,
         {"1 admin", "2 ADMIN ", "3 " + Renee},
         {"Slots 1 and 2 hold the same login name (\"admin\" and \"ADMIN \")."}},
        {"a name that signs the other user in",
         damaged([](UserTable& t) { storeEncoded(t.slot(3).LoginName, "admin\t"); }),
         true,
         {"1 admin", "2 clerk", "3 admin\t"},
         {"Slots 1 and 3 hold the same login name (\"admin\" and \"admin\t\").",
          "Slot 3 (\"admin\t\") cannot sign in: its name finds slot 1.",
          "Slot 3 (\"admin\t\"): the login name holds a control character (U+0009 at "
          "character 6)."}},
        {"control characters in every text, a password's unnamed",
         damaged([](UserTable& t) {
             storeEncoded(t.slot(2).LoginName, "evil\r\x1b[K");
             storeEncoded(t.slot(2).Password, "p\x7fw");
             storeEncoded(t.slot(1).DataPath, "/srv/\x81");
             storeEncoded(t.slot(1).Accounts[3].AccountName, "Pay\aroll");
             // CR LF is the line break a description keeps; a lone LF is not.
             storeEncoded(t.slot(1).Accounts[3].AccountDescription, "one\r\ntwo\nthree");
             // A free entry's leftovers are nobody's text.
             storeEncoded(t.slot(1).Accounts[4].AccountDescription, "\x1b");
         }),
         true,
         {"1 admin", "2 evil\r\x1b[K", "3 " + Renee},
         {"Slot 1 (\"admin\"): the data path holds a control character (U+0081 at character 6).",
          "Slot 1 (\"admin\"), bank account 4: the account name holds a control character "
          "(U+0007 at character 4).",
          "Slot 1 (\"admin\"), bank account 4: the description holds a control character "
          "(U+000A at character 9).",
          "Slot 2 (\"evil\r\x1b[K\"): the login name holds a control character (U+000D at "
          "character 5).",
          "Slot 2 (\"evil\r\x1b[K\"): the password holds a control character."}},
        {"an empty password",
         damaged([](UserTable& t) { storeEncoded(t.slot(2).Password, ""); }),
         true,
         all,
         {"Slot 2 (\"clerk\") cannot sign in: its password is empty."}},
        {"a user behind a free slot",
         damaged([](UserTable& t) { storeEncoded(t.slot(2).LoginName, "  "); }),
         true,
         {"1 admin", "3 " + Renee},
         {"Slot 3 (\"" + Renee + "\") follows the free slot 2: the list of users leaves it out."}},
    };
    for (const Row& row : rows) {
        const TableReport report = checkTable(row.bytes);
        if (report.size != row.bytes.size() || report.readable != row.readable ||
            userLines(report) != row.users || report.faults != row.faults || report.sound())
            storecheck::fail(__FILE__, __LINE__,
                             std::string(row.what) + ": users " +
                                 storecheck::show(userLines(report)) + ", faults:\n" +
                                 joined(report.faults));
        // "Readable" is the store's own verdict.
        storecheck::writeFile(storecheck::TableFile, row.bytes);
        UserTable loaded;
        bool loads = true;
        try {
            LoadUserTable(loaded, storecheck::TableFile);
        } catch (const IoError&) {
            loads = false;
        }
        if (loads != row.readable)
            storecheck::fail(__FILE__, __LINE__, std::string(row.what) + ": the store disagrees");
    }
}
