#pragma once

#include "UserRecord.h"

#include <array>
#include <string_view>

constexpr int SlotCount = 5;
constexpr const char* UserTableFileName = "Gatekeep.acl";

// The program's one table. Slots are numbered 1 to 5 everywhere; use Slot().
extern std::array<UserRecord, SlotCount> UserTable;
// All zero but the six rights, each the plain text "1".
extern const UserRecord BlankUser;

UserRecord& Slot(int n);

// Back to the state at program start: every byte zero. For tests.
void ResetUserTable();

// True when the unscrambled, trimmed login name is empty.
bool IsFreeSlot(const UserRecord& record);

// Removes leading and trailing characters of codes 0 to 32.
AnsiString TrimControls(std::string_view text);
// Upper-cases only the ASCII letters a to z.
AnsiString UpperAscii(std::string_view text);

int FindUser(std::string_view loginName);
void LoadUserTable();
void SaveUserTable();
void CreateUserTableFile();
AnsiString RightTextToFlag(std::string_view text);
AnsiString FlagToRightText(std::string_view flag);
void ClearEmptySlots();
int FirstFreeSlot();
// Takes a record of plain texts; returns the login name as stored.
AnsiString StoreNewUser(const UserRecord& plain);
void RemoveUserSlot(int n);
