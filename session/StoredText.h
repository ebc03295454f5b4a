#pragma once

#include <cstddef>
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

// What the table can hold of the texts people type (UTF-8 here, as
// everywhere above the core): the table keeps one byte per character, in a
// code page of 256 characters, and each text in a field of fixed size.

// Whether the table can hold the character at all.
bool tableHolds(char32_t character);

// Why `text` cannot be stored as `field` unchanged because it is no UTF-8
// text or holds a character the table lacks; nothing when it can. A
// password's characters are never named.
std::optional<std::string> unstorableRefusal(TextField field, std::string_view text);

// Why `text`, one the table can hold, is too long for `field`, which would
// cut it to another text; nothing when it fits (or cannot be stored).
std::optional<std::string> tooLongRefusal(TextField field, std::string_view text);

// Why `text`, one the table can hold, is refused for a control character
// in it; nothing when it holds none (or cannot be stored). A description's
// CR LF line breaks are no such character; a CR or LF alone is.
std::optional<std::string> controlCharacterRefusal(TextField field, std::string_view text);

// The first of those three refusals `text` earns as a new `field`, in that
// order; nothing when the table can keep it as it is.
std::optional<std::string> storeRefusal(TextField field, std::string_view text);

// `text` as it may be shown to a person: each control character in a
// visible form (\t, \n, \r, else \xHH), so nothing moves the cursor, clears
// a line or hides what follows. Other characters stay as they are.
std::string visibleText(std::string_view text);

// The most characters the table holds of `field`.
std::size_t fieldCapacity(TextField field);
