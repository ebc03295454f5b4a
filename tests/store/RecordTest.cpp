#include "StoreCheck.h"

#include "store/Scramble.h"
#include "store/TableFile.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

std::string bytes(const UserRecord& record)
{
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

} // namespace

TEST(BlankUserIsZeroButPlainRightsOfOne)
{
    std::string expected(UserRecordSize, '\0');
    for (std::size_t offset = 1301; offset < UserRecordSize; offset += 2) {
        expected[offset] = '\x01';
        expected[offset + 1] = '1';
    }
    CHECK_EQ(bytes(BlankUser), expected);
    CHECK(isFreeSlot(BlankUser));
}

TEST(TableStartsZeroFilledAndFree)
{
    for (int i = 1; i <= SlotCount; ++i) {
        CHECK_EQ(bytes(slot(i)), std::string(UserRecordSize, '\0'));
        CHECK(isFreeSlot(slot(i)));
    }
    slot(3).LoginName.assign("x");
    resetUserTable();
    CHECK_EQ(bytes(slot(3)), std::string(UserRecordSize, '\0'));
}

TEST(SlotNumbersOutsideOneToFiveAreRefused)
{
    CHECK_EQ(static_cast<const void*>(&slot(1)), static_cast<const void*>(&storecheck::theTable()));
    CHECK_EQ(storecheck::table().substr(4 * UserRecordSize, UserRecordSize),
             std::string(reinterpret_cast<const char*>(&slot(5)), UserRecordSize));
    for (int n : {0, -1, 6, 1000}) {
        bool refused = false;
        try {
            slot(n);
        } catch (const std::out_of_range&) {
            refused = true;
        }
        CHECK(refused);
    }
}

TEST(RightFieldsFollowRecordOrder)
{
    UserRecord record{};
    const auto* base = reinterpret_cast<const unsigned char*>(&record);
    std::size_t offset = 1301;
    for (RecordRight right : AllRecordRights) {
        CHECK_EQ(reinterpret_cast<const unsigned char*>(&rightField(record, right)) - base,
                 static_cast<std::ptrdiff_t>(offset));
        const UserRecord& constRecord = record;
        CHECK_EQ(&rightField(constRecord, right), &rightField(record, right));
        offset += 2;
    }
}

// A shorter value written over a longer one keeps the old tail: the file
// carries those bytes and readers ignore them.
TEST(ShortStringCutsToCapacityAndKeepsTail)
{
    ShortString<8> field{};
    field.assign("ninechars");
    CHECK_EQ(static_cast<int>(field.Length), 8);
    CHECK_EQ(field.value(), std::string("ninechar"));
    field.assign("ab");
    CHECK_EQ(field.value(), std::string("ab"));
    CHECK_EQ(std::string(field.Chars, 8), std::string("abnechar"));
    field.assign("");
    CHECK(field.empty());
    CHECK_EQ(field.value(), std::string());
}

TEST(DamagedLengthReadsAsCapacity)
{
    UserRecord record{};
    std::memset(record.LoginName.Chars, 'A', sizeof record.LoginName.Chars);
    record.LoginName.Length = 255;
    CHECK_EQ(record.LoginName.size(), std::size_t{15});
    CHECK_EQ(record.LoginName.value(), std::string(15, 'A'));
    record.AddUsers.Length = 200;
    CHECK_EQ(record.AddUsers.value().size(), std::size_t{1});
}

// A login name of 20 characters comes back as its first 15.
TEST(LongValuesComeBackCutThroughScrambling)
{
    UserRecord record{};
    storeEncoded(record.LoginName, "abcdefghijklmnopqrst");
    CHECK_EQ(decoded(record.LoginName), std::string("abcdefghijklmno"));
    storeEncoded(record.Password, "123456789");
    CHECK_EQ(decoded(record.Password), std::string("12345678"));
    const std::string path(300, 'p');
    storeEncoded(record.DataPath, path);
    CHECK_EQ(decoded(record.DataPath), path.substr(0, 255));
}

TEST(EqualPasswordsStoreEqualBytes)
{
    UserRecord a{};
    UserRecord b{};
    storeEncoded(a.Password, "same");
    storeEncoded(b.Password, "same");
    CHECK_EQ(std::string(reinterpret_cast<const char*>(&a.Password), sizeof a.Password),
             std::string(reinterpret_cast<const char*>(&b.Password), sizeof b.Password));
    CHECK(decoded(a.Password) == "same");
}

// A zero length makes a slot free whatever follows it; otherwise the trimmed,
// unscrambled name decides.
TEST(FreeSlotRule)
{
    UserRecord record{};
    std::memset(record.LoginName.Chars, 'Z', sizeof record.LoginName.Chars);
    record.LoginName.Length = 0;
    CHECK(isFreeSlot(record));

    storeEncoded(record.LoginName, " \t\r\n");
    CHECK(isFreeSlot(record));
    storeEncoded(record.LoginName, std::string("\0 \x1f \x20", 5));
    CHECK(isFreeSlot(record));
    storeEncoded(record.LoginName, " a ");
    CHECK(!isFreeSlot(record));
    storeEncoded(record.LoginName, "\x21");
    CHECK(!isFreeSlot(record));
    storeEncoded(record.LoginName, "\xa0"); // no-break space is a character here
    CHECK(!isFreeSlot(record));
}

TEST(TrimAndUpperHelpers)
{
    CHECK_EQ(trimControls(std::string("\0\x01 ab c\x20\x1f", 8)), std::string("ab c"));
    CHECK_EQ(trimControls(""), std::string());
    CHECK_EQ(trimControls("\x7f x \x80"), std::string("\x7f x \x80"));
    CHECK_EQ(upperAscii("aZ\xe9\xe4 true!"), std::string("AZ\xe9\xe4 TRUE!"));
}
