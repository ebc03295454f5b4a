#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Texts in the store are byte strings, one Windows-1252 character per byte.
using AnsiString = std::string;

// A length byte followed by a fixed character area. The bytes after the
// length are kept as they are when a shorter value is written, because the
// file format carries whatever the record held there.
template <std::size_t Capacity> struct ShortString
{
    std::uint8_t Length;
    char Chars[Capacity];

    static constexpr std::size_t capacity() { return Capacity; }

    // A damaged file may hold a length above the capacity: read it as the
    // capacity so nothing ever reads past the field.
    std::size_t size() const { return Length > Capacity ? Capacity : Length; }
    bool empty() const { return Length == 0; }
    AnsiString value() const { return AnsiString(Chars, size()); }

    // Stores the value cut to the capacity; the tail bytes stay.
    void assign(std::string_view text)
    {
        const std::size_t n = text.size() > Capacity ? Capacity : text.size();
        for (std::size_t i = 0; i < n; ++i)
            Chars[i] = text[i];
        Length = static_cast<std::uint8_t>(n);
    }
};

struct AccountEntry
{
    ShortString<30> AccountName;
    ShortString<70> AccountDescription;
};

constexpr int AccountCount = 10;
using AccountArea = std::array<AccountEntry, AccountCount>;

struct UserRecord
{
    ShortString<15> LoginName;
    ShortString<8> Password;
    ShortString<255> DataPath;
    AccountArea Accounts;
    // The six rights in record order; "0" is granted, "1" is not.
    ShortString<1> DeleteRecord;
    ShortString<1> DeleteUsers;
    ShortString<1> ModifyRecord;
    ShortString<1> ModifyUsers;
    ShortString<1> AddRecord;
    ShortString<1> AddUsers;
};

constexpr std::size_t UserRecordSize = 1313;
constexpr std::size_t AccountEntrySize = 102;

static_assert(sizeof(AccountEntry) == AccountEntrySize);
static_assert(offsetof(AccountEntry, AccountName) == 0);
static_assert(offsetof(AccountEntry, AccountDescription) == 31);
static_assert(sizeof(AccountArea) == 1020);
static_assert(sizeof(UserRecord) == UserRecordSize);
static_assert(offsetof(UserRecord, LoginName) == 0);
static_assert(offsetof(UserRecord, Password) == 16);
static_assert(offsetof(UserRecord, DataPath) == 25);
static_assert(offsetof(UserRecord, Accounts) == 281);
static_assert(offsetof(UserRecord, DeleteRecord) == 1301);
static_assert(offsetof(UserRecord, DeleteUsers) == 1303);
static_assert(offsetof(UserRecord, ModifyRecord) == 1305);
static_assert(offsetof(UserRecord, ModifyUsers) == 1307);
static_assert(offsetof(UserRecord, AddRecord) == 1309);
static_assert(offsetof(UserRecord, AddUsers) == 1311);
static_assert(alignof(UserRecord) == 1, "records are copied and written as raw bytes");

enum class RecordRight
{
    DeleteRecord,
    DeleteUsers,
    ModifyRecord,
    ModifyUsers,
    AddRecord,
    AddUsers
};
constexpr std::array<RecordRight, 6> AllRecordRights = {
    RecordRight::DeleteRecord, RecordRight::DeleteUsers, RecordRight::ModifyRecord,
    RecordRight::ModifyUsers,  RecordRight::AddRecord,   RecordRight::AddUsers};

ShortString<1>& rightField(UserRecord& record, RecordRight right);
const ShortString<1>& rightField(const UserRecord& record, RecordRight right);
