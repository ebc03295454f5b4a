#pragma once

#include <optional>
#include <string>
#include <string_view>

// The terminal speaks UTF-8, the table file holds Windows-1252 bytes. All
// 256 bytes round-trip: the five bytes Windows-1252 leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 controls of the same number, as
// in the windows.

// The bytes of UTF-8 text, or nothing when it is not valid UTF-8 or holds a
// character Windows-1252 lacks; `problem` then says which.
std::optional<std::string> Utf8ToWindows1252(std::string_view utf8, std::string* problem = nullptr);
std::string Windows1252ToUtf8(std::string_view bytes);
