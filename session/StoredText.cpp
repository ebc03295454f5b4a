#include "StoredText.h"

#include "TableText.h"
#include "UserValues.h"

#include "store/Windows1252.h"

#include <cstdio>

namespace {

const char* fieldName(TextField field)
{
    switch (field) {
    case TextField::LoginName:
        return "login name";
    case TextField::Password:
        return "password";
    case TextField::DataPath:
        return "data path";
    case TextField::AccountName:
        return "account name";
    case TextField::Description:
        return "description";
    }
    return "text";
}

// "U+001B at character 5": which one and where, so it can be found.
std::string where(std::string_view text, std::size_t at)
{
    char code[16];
    std::snprintf(
        code, sizeof code, "U+%04X",
        static_cast<unsigned>(windows1252Character(static_cast<unsigned char>(text[at]))));
    return std::string(code) + " at character " + std::to_string(at + 1);
}

} // namespace

bool isControlByte(unsigned char byte)
{
    return byte < 0x20 || byte == 0x7F || !windows1252Defines(byte);
}

std::optional<std::size_t> findControlCharacter(TextField field, std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isControlByte(static_cast<unsigned char>(text[i])))
            continue;
        // The account dialog stores each line break as CR LF.
        if (field == TextField::Description && text[i] == '\r' && i + 1 < text.size() &&
            text[i + 1] == '\n') {
            ++i;
            continue;
        }
        return i;
    }
    return std::nullopt;
}

std::optional<std::string> controlCharacterRefusal(TextField field, std::string_view text)
{
    const std::optional<std::size_t> at = findControlCharacter(field, text);
    if (!at)
        return std::nullopt;
    std::string message = std::string("The ") + fieldName(field) + " holds a control character";
    // Where a password's character lies and which it is would tell part of
    // the password to whoever reads the message.
    if (field != TextField::Password)
        message += " (" + where(text, *at) + ")";
    if (field == TextField::Description)
        return message + ": line breaks are kept, but tabs, escapes and other control "
                         "characters cannot be stored.";
    return message + ": tabs, line breaks, escapes and other control characters cannot be stored.";
}

std::optional<std::string> controlCharacterFault(TextField field, std::string_view text)
{
    const std::optional<std::size_t> at = findControlCharacter(field, text);
    if (!at)
        return std::nullopt;
    std::string fault = std::string("the ") + fieldName(field) + " holds a control character";
    if (field != TextField::Password)
        fault += " (" + where(text, *at) + ")";
    return fault;
}

std::string visibleText(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (!isControlByte(byte)) {
            shown += c;
            continue;
        }
        switch (c) {
        case '\t':
            shown += "\\t";
            break;
        case '\n':
            shown += "\\n";
            break;
        case '\r':
            shown += "\\r";
            break;
        default: {
            static const char* hex = "0123456789abcdef";
            shown += "\\x";
            shown += hex[byte >> 4];
            shown += hex[byte & 15];
        }
        }
    }
    return shown;
}

std::size_t fieldCapacity(TextField field)
{
    switch (field) {
    case TextField::LoginName:
        return MaxLoginName;
    case TextField::Password:
        return MaxPassword;
    case TextField::DataPath:
        return MaxDataPath;
    case TextField::AccountName:
        return MaxAccountName;
    case TextField::Description:
        break;
    }
    return MaxDescription;
}

std::optional<std::string> tooLongRefusal(TextField field, std::string_view text)
{
    const std::size_t capacity = fieldCapacity(field);
    if (text.size() <= capacity)
        return std::nullopt;
    // A description's line breaks are stored as CR LF: say why it is longer
    // than it looks.
    const std::string name = field == TextField::Description
                                 ? "description (each line break takes two)"
                                 : fieldName(field);
    return name + ": " + std::to_string(text.size()) + " characters, but the table holds at most " +
           std::to_string(capacity) + ".";
}

TableTextCheck tableTextOf(TextField field, std::string_view utf8, bool whole)
{
    TableTextCheck check;
    std::string problem;
    check.bytes = utf8ToTableText(utf8, &problem);
    if (!check.bytes) {
        check.refusal = std::string(fieldName(field)) + ": " + problem + ".";
        return check;
    }
    if (whole) {
        if (std::optional<std::string> tooLong = tooLongRefusal(field, *check.bytes)) {
            check.bytes.reset();
            check.refusal = std::move(*tooLong);
        }
    }
    return check;
}
