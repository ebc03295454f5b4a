#include "TableText.h"

#include "store/Windows1252.h"

char32_t tableCharacter(unsigned char byte)
{
    return windows1252Character(byte);
}

bool tableDefines(unsigned char byte)
{
    return windows1252Defines(byte);
}

int tableByte(char32_t character)
{
    return windows1252Byte(character);
}

void appendAsUtf8(std::string& out, char32_t character)
{
    appendUtf8(out, character);
}

std::optional<std::string> utf8ToTableText(std::string_view utf8, std::string* problem)
{
    return utf8ToWindows1252(utf8, problem);
}

std::string tableTextToUtf8(std::string_view bytes)
{
    return windows1252ToUtf8(bytes);
}
