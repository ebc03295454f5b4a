#include "Windows1252.h"

#include <cstdio>

namespace {

constexpr char32_t HighCharacters[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

char32_t windows1252Character(unsigned char byte)
{
    return byte >= 0x80 && byte < 0xA0 ? HighCharacters[byte - 0x80] : byte;
}

bool windows1252Defines(unsigned char byte)
{
    return byte != 0x81 && byte != 0x8D && byte != 0x8F && byte != 0x90 && byte != 0x9D;
}

int windows1252Byte(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<int>(c);
    for (int i = 0; i < 32; ++i) {
        if (HighCharacters[i] == c)
            return 0x80 + i;
    }
    return -1;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::optional<char32_t> nextUtf8Character(std::string_view text, std::size_t& at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length;
    char32_t c;
    char32_t least;
    if (lead < 0x80) {
        ++at;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        c = lead & 0x1F;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        c = lead & 0x0F;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        c = lead & 0x07;
        least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - at < length)
        return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return std::nullopt;
    at += length;
    return c;
}

namespace {

std::string codePointName(char32_t c)
{
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    std::string name = code;
    // Controls would act on the terminal rather than show.
    if (c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0)) {
        name += " \"";
        appendUtf8(name, c);
        name += "\"";
    }
    return name;
}

} // namespace

std::optional<std::string> utf8ToWindows1252(std::string_view utf8, std::string* problem)
{
    std::string bytes;
    bytes.reserve(utf8.size());
    std::size_t at = 0;
    while (at < utf8.size()) {
        const std::size_t start = at;
        const std::optional<char32_t> c = nextUtf8Character(utf8, at);
        if (!c) {
            if (problem)
                *problem = "not valid UTF-8 (at byte " + std::to_string(start + 1) + ")";
            return std::nullopt;
        }
        const int b = windows1252Byte(*c);
        if (b < 0) {
            if (problem)
                *problem = codePointName(*c) + " is not a Windows-1252 character, and the table "
                                               "holds nothing else";
            return std::nullopt;
        }
        bytes += static_cast<char>(b);
    }
    return bytes;
}

std::string windows1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        appendUtf8(out, windows1252Character(b));
    }
    return out;
}
