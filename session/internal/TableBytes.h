#pragma once

// The core's own: texts as the table holds them, Windows-1252 bytes, which
// no caller of the core sees. Names and rule texts are compared and built
// on these; everything handed out is UTF-8.

#include "session/StoredText.h"

#include <optional>
#include <string>
#include <string_view>

std::string utf8Of(std::string_view bytes);
// The table's bytes of UTF-8 text, or nothing when it is none or holds a
// character the table lacks; `problem` then says which.
std::optional<std::string> tableBytesOf(std::string_view utf8, std::string* problem = nullptr);
// A name for the audit trail where the table cannot hold it: each
// character it lacks, and each byte that is no UTF-8, as "?".
std::string recordableBytes(std::string_view utf8);

// Whether a byte stands for a control character: C0 (0 to 31), DEL, and
// the five bytes Windows-1252 leaves undefined, which stand for the C1
// controls of the same number. The printable characters of 0x80 to 0x9F
// (the euro sign, quotes, dashes) are no controls.
bool isControlByte(unsigned char byte);
// A control character in `bytes` as `field` would store it: its place
// (counted from 0) or nothing.
std::optional<std::size_t> findControlCharacter(TextField field, std::string_view bytes);
// The refusals and the table check's fault of table bytes; plain ASCII.
std::optional<std::string> controlBytesRefusal(TextField field, std::string_view bytes);
std::optional<std::string> controlCharacterFault(TextField field, std::string_view bytes);
std::optional<std::string> tooLongBytesRefusal(TextField field, std::string_view bytes);
