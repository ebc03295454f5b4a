#include "StoreCheck.h"

#include "store/Scramble.h"
#include "store/TableFile.h"

#include <cstring>
#include <string>
#include <vector>

using storecheck::table;

namespace {

std::string bytes(const UserRecord& record)
{
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// A record of plain texts as the dialogs hand it to StoreNewUser.
UserRecord plain(const std::string& name, const std::string& password = "pw",
                 const std::string& path = "/data", const std::string& rights = "010101")
{
    return storecheck::plainRecord(name, password, path, rights);
}

void fill(const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        StoreNewUser(plain(name, "pw-" + name, "/home/" + name));
}

std::vector<std::string> names()
{
    std::vector<std::string> names;
    for (int i = 1; i <= SlotCount; ++i)
        names.push_back(decoded(slot(i).LoginName));
    return names;
}

} // namespace

TEST(StoreNewUserScramblesIntoFirstFreeSlot)
{
    const std::string stored = StoreNewUser(plain("alice", "secret", "C:\\Data", "011010"));
    CHECK_EQ(stored, std::string("alice"));
    const UserRecord& slot = ::slot(1);
    CHECK_EQ(slot.LoginName.value(), EncodeField("alice", ScrambleKey));
    CHECK_EQ(slot.Password.value(), EncodeField("secret", ScrambleKey));
    CHECK_EQ(decoded(slot.DataPath), std::string("C:\\Data"));
    std::string rights;
    for (RecordRight right : AllRecordRights) {
        CHECK_EQ(rightField(slot, right).value(),
                 EncodeField(decoded(rightField(slot, right)), ScrambleKey));
        rights += decoded(rightField(slot, right));
    }
    CHECK_EQ(rights, std::string("011010"));
    CHECK_EQ(FirstFreeSlot(), 2);
    CHECK_EQ(FindUser("alice"), 1);
}

TEST(StoreNewUserCutsToCapacities)
{
    UserRecord plain = ::plain("", "123456789");
    // A caller's record can only hold 15 characters; the result is the name as stored.
    plain.LoginName.assign("twentycharacters_xyz");
    CHECK_EQ(StoreNewUser(plain), std::string("twentycharacter"));
    CHECK_EQ(decoded(slot(1).Password), std::string("12345678"));
    CHECK_EQ(FindUser("twentycharacter"), 1);
}

TEST(StoreNewUserLeavesAccountsAlone)
{
    slot(1).Accounts[3].AccountName.assign("kept");
    StoreNewUser(plain("bob"));
    CHECK_EQ(slot(1).Accounts[3].AccountName.value(), std::string("kept"));
}

TEST(StoreNewUserOnFullTableChangesNothing)
{
    fill({"a", "b", "c", "d", "e"});
    const std::string before = table();
    CHECK_EQ(StoreNewUser(plain("f")), std::string());
    CHECK_EQ(table(), before);
    CHECK_EQ(FindUser("f"), 0);
}

TEST(FindUserIsExactAndCaseSensitive)
{
    fill({"Alice", "bob", " carol"});
    CHECK_EQ(FindUser("Alice"), 1);
    CHECK_EQ(FindUser("bob"), 2);
    CHECK_EQ(FindUser(" carol"), 3);
    for (const char* miss : {"alice", "ALICE", "Alice ", " Alice", "carol", "bo", "bobb"})
        CHECK_EQ(FindUser(miss), 0);
}

TEST(FindUserOfEmptyTextIsLowestFreeSlot)
{
    CHECK_EQ(FindUser(""), 1);
    fill({"a", "b"});
    CHECK_EQ(FindUser(""), 3);
    fill({"c", "d", "e"});
    CHECK_EQ(FindUser(""), 0);
}

TEST(FindUserTakesFirstOfDuplicates)
{
    fill({"x", "dup", "dup"});
    CHECK_EQ(FindUser("dup"), 2);
}

TEST(FirstFreeSlotRange)
{
    CHECK_EQ(FirstFreeSlot(), 1);
    fill({"a", "b", "c", "d"});
    CHECK_EQ(FirstFreeSlot(), 5);
    fill({"e"});
    CHECK_EQ(FirstFreeSlot(), -1);
}

TEST(RemoveMiddleUserMovesOthersUp)
{
    fill({"A", "B", "C", "D", "E"});
    const std::string c = bytes(slot(3));
    const std::string e = bytes(slot(5));
    RemoveUserSlot(2);
    CHECK_EQ(names(), (std::vector<std::string>{"A", "C", "D", "E", ""}));
    CHECK_EQ(bytes(slot(2)), c);
    CHECK_EQ(bytes(slot(4)), e);
    CHECK_EQ(bytes(slot(5)), bytes(BlankUser));
    CHECK_EQ(FirstFreeSlot(), 5);
}

TEST(RemoveLastUsedSlotBlanksOnlyIt)
{
    fill({"A", "B", "C"});
    slot(3).Accounts[0].AccountName.assign("acct");
    const std::string a = bytes(slot(1));
    const std::string b = bytes(slot(2));
    RemoveUserSlot(3);
    CHECK_EQ(bytes(slot(1)), a);
    CHECK_EQ(bytes(slot(2)), b);
    CHECK_EQ(bytes(slot(3)), bytes(BlankUser));
    CHECK_EQ(FirstFreeSlot(), 3);
}

TEST(UserAddedAfterRemovalHasNoAccounts)
{
    fill({"A", "B"});
    for (AccountEntry& entry : slot(2).Accounts)
        entry.AccountName.assign(EncodeField("acct", ScrambleKey));
    RemoveUserSlot(2);
    StoreNewUser(plain("C"));
    CHECK_EQ(FindUser("C"), 2);
    for (const AccountEntry& entry : slot(2).Accounts)
        CHECK(entry.AccountName.empty());
}

TEST(RemoveWithBadSlotChangesNothing)
{
    fill({"A", "B", "C"});
    const std::string before = table();
    for (int n : {0, -1, 4, 5, 6, 99})
        RemoveUserSlot(n);
    CHECK_EQ(table(), before);
    resetUserTable();
    RemoveUserSlot(1);
    CHECK_EQ(table(), std::string(UserTableFileSize, '\0'));
}

// A table read from a file with a gap is not repacked; removing a user behind
// the gap must still remove that user and nobody else. Counting the last
// user from the first free slot, as a packed table allows, would blank the
// user before the gap instead: the wrong person gone, the one asked for kept.
TEST(RemoveBehindGapRemovesThatUser)
{
    fill({"A", "B", "C", "D"});
    RemoveUserSlot(2); // A C D -
    slot(2) = BlankUser;
    slot(2).LoginName.Length = 0; // A - D - -, as a file may hold it
    CHECK_EQ(names(), (std::vector<std::string>{"A", "", "D", "", ""}));
    const std::string a = bytes(slot(1));
    RemoveUserSlot(3);
    CHECK_EQ(bytes(slot(1)), a);
    CHECK_EQ(FindUser("D"), 0);
    CHECK_EQ(names(), (std::vector<std::string>{"A", "", "", "", ""}));

    // Removing the user before the gap keeps the one behind it.
    fill({"A", "B", "C", "D"});
    slot(2) = BlankUser;
    slot(2).LoginName.Length = 0; // A - C D -
    RemoveUserSlot(1);
    CHECK_EQ(FindUser("A"), 0);
    CHECK(FindUser("C") != 0 && FindUser("D") != 0);
}

// Removing a user before a gap moves only those up to the gap: the user
// behind it keeps their slot, and nobody crosses the free slot.
TEST(RemoveBeforeGapMovesNobodyAcrossIt)
{
    fill({"A", "B", "C", "D"});
    slot(3) = BlankUser;
    slot(3).LoginName.Length = 0; // A B - D -
    const std::string d = bytes(slot(4));
    RemoveUserSlot(2);
    CHECK_EQ(names(), (std::vector<std::string>{"A", "", "", "D", ""}));
    CHECK_EQ(bytes(slot(2)), bytes(BlankUser));
    CHECK_EQ(bytes(slot(4)), d);

    // Before the first gap the bound is FirstFreeSlot() - 1, as in a packed
    // table: A C - E - loses A, and E stays where it was.
    resetUserTable();
    fill({"A", "C", "D", "E"});
    slot(3) = BlankUser;
    slot(3).LoginName.Length = 0;
    RemoveUserSlot(1);
    CHECK_EQ(names(), (std::vector<std::string>{"C", "", "", "E", ""}));
}

TEST(ClearEmptySlotsNormalisesOnlyFreeSlots)
{
    fill({"A"});
    UserRecord& free = slot(2);
    storeEncoded(free.LoginName, "  "); // free by trimming, length 2
    storeEncoded(free.Password, "pw");
    free.DataPath.assign("path");
    free.Accounts[1].AccountName.assign("acct");
    const std::string used = bytes(slot(1));
    const std::string passwordChars(free.Password.Chars, sizeof free.Password.Chars);

    ClearEmptySlots();
    CHECK_EQ(bytes(slot(1)), used);
    CHECK_EQ(static_cast<int>(free.LoginName.Length), 0);
    CHECK_EQ(static_cast<int>(free.Password.Length), 0);
    CHECK_EQ(std::string(free.Password.Chars, sizeof free.Password.Chars), passwordChars);
    CHECK_EQ(free.DataPath.value(), std::string("path"));
    CHECK_EQ(free.Accounts[1].AccountName.value(), std::string("acct"));
    for (int i = 2; i <= SlotCount; ++i) {
        for (RecordRight right : AllRecordRights)
            CHECK_EQ(rightField(slot(i), right).value(), std::string("1"));
    }
}

TEST(RightTextToFlag)
{
    for (const char* yes : {"TRUE", "True", "true", "tRuE"})
        CHECK_EQ(RightTextToFlag(yes), std::string("0"));
    for (const char* no :
         {"FALSE", "False", "", "T", "TRUE ", " TRUE", "yes", "0", "1", "TRUEX", "tru\xc9"})
        CHECK_EQ(RightTextToFlag(no), std::string("1"));
}

TEST(FlagToRightText)
{
    CHECK_EQ(FlagToRightText("0"), std::string("TRUE"));
    for (const char* other : {"1", "", "2", "00", " 0", "x"})
        CHECK_EQ(FlagToRightText(other), std::string("FALSE"));
}
