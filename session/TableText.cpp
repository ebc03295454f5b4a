#include "TableText.h"

#include "store/Windows1252.h"

char32_t tableCharacter(unsigned char byte)
{
    return Windows1252Character(byte);
}

bool tableDefines(unsigned char byte)
{
    return Windows1252Defines(byte);
}

int tableByte(char32_t character)
{
    return Windows1252Byte(character);
}

void appendUtf8(std::string& out, char32_t character)
{
    AppendUtf8(out, character);
}

std::optional<std::string> utf8ToTableText(std::string_view utf8, std::string* problem)
{
    return Utf8ToWindows1252(utf8, problem);
}

std::string tableTextToUtf8(std::string_view bytes)
{
    return Windows1252ToUtf8(bytes);
}
