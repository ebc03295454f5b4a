#pragma once

#include <optional>
#include <string>
#include <string_view>

// The table file holds Windows-1252 bytes; the windows, the terminal and
// the system log speak Unicode. All 256 bytes round-trip: the five bytes
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for
// the C1 controls of the same number.

// The character of a byte.
char32_t windows1252Character(unsigned char byte);
// False for the five bytes Windows-1252 leaves undefined.
bool windows1252Defines(unsigned char byte);
// The byte of a character, or -1 when Windows-1252 cannot hold it.
int windows1252Byte(char32_t character);
void appendUtf8(std::string& out, char32_t character);
// The character of UTF-8 text starting at `at`, moving `at` past it;
// nothing (and `at` left) for bytes that are no UTF-8, overlong forms and
// surrogates included.
std::optional<char32_t> nextUtf8Character(std::string_view text, std::size_t& at);

// The bytes of UTF-8 text, or nothing when it is not valid UTF-8 or holds a
// character Windows-1252 lacks; `problem` then says which.
std::optional<std::string> utf8ToWindows1252(std::string_view utf8, std::string* problem = nullptr);
std::string windows1252ToUtf8(std::string_view bytes);
