#pragma once

#include <optional>
#include <string>
#include <string_view>

// Which text of the table a person gives: the control-character rule and
// its message differ between them.
enum class TextField
{
    LoginName,
    Password,
    DataPath,
    AccountName,
    Description
};

// Whether a Windows-1252 byte stands for a control character: C0 (0 to 31),
// DEL, and the five bytes Windows-1252 leaves undefined, which stand for
// the C1 controls of the same number. The printable characters of 0x80 to
// 0x9F (the euro sign, quotes, dashes) are no controls.
bool isControlByte(unsigned char byte);

// A control character in `text` as `field` would store it: its place
// (counted from 0) or nothing. A description's CR LF line breaks are no
// such character; a CR or LF alone is.
std::optional<std::size_t> findControlCharacter(TextField field, std::string_view text);

// Why `text` cannot be stored as `field`, in Windows-1252; nothing when it
// can. A password's characters are never named.
std::optional<std::string> controlCharacterRefusal(TextField field, std::string_view text);

// The same for a text a table made elsewhere holds, for the table check:
// "the login name holds a control character (...)". Nothing when none.
std::optional<std::string> controlCharacterFault(TextField field, std::string_view text);

// `text` as it may be shown to a person: each control character in a
// visible form (\t, \n, \r, else \xHH), so nothing moves the cursor, clears
// a line or hides what follows. Other bytes stay as they are.
std::string visibleText(std::string_view text);

// The most characters the table holds of `field`.
std::size_t fieldCapacity(TextField field);

// Why `text` (the table's bytes) is too long for `field`, which would cut
// it to another text; nothing when it fits.
std::optional<std::string> tooLongRefusal(TextField field, std::string_view text);

// UTF-8 text as the table would store it as `field`: its bytes, or why it
// cannot be stored unchanged (a character the table lacks, or no UTF-8
// text; with `whole`, also one longer than the field).
struct TableTextCheck
{
    std::optional<std::string> bytes;
    std::string refusal;
};
TableTextCheck tableTextOf(TextField field, std::string_view utf8, bool whole = true);
