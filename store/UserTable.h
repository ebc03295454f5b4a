#pragma once

#include "UserRecord.h"

#include <array>
#include <string>
#include <string_view>

constexpr int SlotCount = 5;
constexpr const char* UserTableFileName = "Gatekeep.acl";
constexpr std::size_t UserTableFileSize = UserRecordSize * SlotCount;

// All zero but the six rights, each the plain text "1".
extern const UserRecord BlankUser;

// True when the unscrambled, trimmed login name is empty.
bool isFreeSlot(const UserRecord& record);

// Removes leading and trailing characters of codes 0 to 32.
AnsiString trimControls(std::string_view text);
// Upper-cases only the ASCII letters a to z.
AnsiString upperAscii(std::string_view text);

AnsiString RightTextToFlag(std::string_view text);
AnsiString FlagToRightText(std::string_view flag);

// Five user records, slots numbered 1 to 5; zero-filled (all free) when made.
class UserTable
{
public:
    UserRecord& slot(int n);
    const UserRecord& slot(int n) const;

    int FindUser(std::string_view loginName) const;
    void ClearEmptySlots();
    int FirstFreeSlot() const;
    // Takes a record of plain texts; returns the login name as stored.
    AnsiString StoreNewUser(const UserRecord& plain);
    void RemoveUserSlot(int n);

    // The five records as the table file holds them (6565 bytes), and back.
    std::string bytes() const;
    // Copies whole records from the front of `bytes`; the slots after them
    // keep what they held.
    void setRecords(std::string_view bytes, std::size_t records);

    bool operator==(const UserTable& other) const { return bytes() == other.bytes(); }
    bool operator!=(const UserTable& other) const { return !(*this == other); }

private:
    std::array<UserRecord, SlotCount> m_slots{};
};
