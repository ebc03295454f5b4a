#include "StoredText.h"

#include "UserValues.h"
#include "internal/TableBytes.h"

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

std::optional<std::string> controlBytesRefusal(TextField field, std::string_view text)
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

namespace {

void appendEscape(std::string& out, unsigned code)
{
    switch (code) {
    case '\t':
        out += "\\t";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    default:
        break;
    }
    static const char* hex = "0123456789abcdef";
    out += "\\x";
    out += hex[(code >> 4) & 15];
    out += hex[code & 15];
}

} // namespace

std::string visibleText(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = at;
        const std::optional<char32_t> character = nextUtf8Character(text, at);
        if (!character) {
            appendEscape(shown, static_cast<unsigned char>(text[at]));
            ++at;
            continue;
        }
        // C1 controls are the table's undefined bytes, and terminals obey
        // some of them.
        if (*character < 0x20 || (*character >= 0x7F && *character < 0xA0))
            appendEscape(shown, static_cast<unsigned>(*character));
        else
            shown.append(text.substr(start, at - start));
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

std::optional<std::string> tooLongBytesRefusal(TextField field, std::string_view text)
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

std::string utf8Of(std::string_view bytes)
{
    return windows1252ToUtf8(bytes);
}

std::optional<std::string> tableBytesOf(std::string_view utf8, std::string* problem)
{
    return utf8ToWindows1252(utf8, problem);
}

std::string recordableBytes(std::string_view utf8)
{
    std::string name;
    std::size_t at = 0;
    while (at < utf8.size()) {
        const std::optional<char32_t> character = nextUtf8Character(utf8, at);
        const int byte = character ? windows1252Byte(*character) : -1;
        name += byte < 0 ? '?' : static_cast<char>(byte);
        if (!character)
            ++at;
    }
    return name;
}

bool tableHolds(char32_t character)
{
    return windows1252Byte(character) >= 0;
}

std::optional<std::string> unstorableRefusal(TextField field, std::string_view text)
{
    std::string problem;
    if (tableBytesOf(text, &problem))
        return std::nullopt;
    // What the table cannot hold is most of a password: never quoted back.
    if (field == TextField::Password)
        return std::string("password: it holds a character that is not in Windows-1252 (or is not "
                           "UTF-8 text), which the table cannot store.");
    return std::string(fieldName(field)) + ": " + problem + ".";
}

std::optional<std::string> tooLongRefusal(TextField field, std::string_view text)
{
    const std::optional<std::string> bytes = tableBytesOf(text);
    return bytes ? tooLongBytesRefusal(field, *bytes) : std::nullopt;
}

std::optional<std::string> controlCharacterRefusal(TextField field, std::string_view text)
{
    const std::optional<std::string> bytes = tableBytesOf(text);
    return bytes ? controlBytesRefusal(field, *bytes) : std::nullopt;
}

std::optional<std::string> storeRefusal(TextField field, std::string_view text)
{
    if (std::optional<std::string> refusal = unstorableRefusal(field, text))
        return refusal;
    if (std::optional<std::string> refusal = tooLongRefusal(field, text))
        return refusal;
    return controlCharacterRefusal(field, text);
}
