#pragma once

#include <optional>
#include <string>
#include <string_view>

// The table's texts are Windows-1252 bytes, as the file holds them; the
// windows, the terminal and the system log speak Unicode. What a front end
// needs of the code page, from the store's one conversion. All 256 bytes
// round-trip: the five bytes Windows-1252 leaves undefined stand for the C1
// controls of the same number.

// The character of a table byte.
char32_t tableCharacter(unsigned char byte);
// False for the five bytes Windows-1252 leaves undefined.
bool tableDefines(unsigned char byte);
// The table byte of a character, or -1 when the table cannot hold it.
int tableByte(char32_t character);
void appendAsUtf8(std::string& out, char32_t character);

// The table bytes of UTF-8 text, or nothing when it is not valid UTF-8 or
// holds a character the table lacks; `problem` then says which.
std::optional<std::string> utf8ToTableText(std::string_view utf8, std::string* problem = nullptr);
std::string tableTextToUtf8(std::string_view bytes);
