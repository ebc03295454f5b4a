#pragma once

#include "UserTable.h"

#include <optional>
#include <string>

// The table file. `path` names it (normally UserTableFileName in the folder
// the program works in). Every failing step raises IoError.

// Reads the file into the table; a missing file is created empty instead.
// `fileBytes`, when given, receives the bytes read (empty for a new file),
// so a later save can tell whether someone else has changed the file since.
void LoadUserTable(UserTable& table, const std::string& path, std::string* fileBytes = nullptr);
// Writes all five records (6565 bytes); the old table stays whole until the
// new one is complete.
void SaveUserTable(const UserTable& table, const std::string& path);
// An empty file (0 bytes) in place of whatever was there.
void CreateUserTableFile(const std::string& path);
// What the file holds now, or nothing when there is no file; reads only.
std::optional<std::string> PeekTableFile(const std::string& path);
