#pragma once

#include <string>

// Checks the audit trail's tests share.
namespace auditcheck {

// True when `line` is well-formed UTF-8 holding no control character (C0,
// DEL, C1) and no line or paragraph separator (U+2028, U+2029): nothing in
// it can end a log line or start another.
inline bool isCleanUtf8Line(const std::string& line)
{
    std::size_t at = 0;
    while (at < line.size()) {
        const auto lead = static_cast<unsigned char>(line[at]);
        std::size_t length = 1;
        char32_t c = lead;
        if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            c = lead & 0x07;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            c = lead & 0x0F;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            c = lead & 0x1F;
        } else if (lead >= 0x80) {
            return false;
        }
        if (at + length > line.size())
            return false;
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(line[at + i]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029)
            return false;
        at += length;
    }
    return true;
}

} // namespace auditcheck
