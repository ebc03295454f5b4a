#include "StoreCheck.h"

#include "store/Windows1252.h"

#include <optional>
#include <string>

TEST(EveryByteRoundTrips)
{
    std::string all;
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::optional<std::string> back = utf8ToWindows1252(windows1252ToUtf8(one));
        if (back != one)
            storecheck::fail(__FILE__, __LINE__, "byte " + std::to_string(b));
        all += one;
    }
    CHECK(utf8ToWindows1252(windows1252ToUtf8(all)) == all);
}

TEST(TextsTheTableCanHoldAreConverted)
{
    struct Row
    {
        std::string utf8;
        std::string bytes;
    };
    const Row rows[] = {
        {"admin", "admin"},
        {"caf\xc3\xa9\xe2\x82\xac", "caf\xe9\x80"},                               // café€
        {"\xe2\x80\x9cGesch\xc3\xa4\x66t\xe2\x80\x9d", "\x93Gesch\xe4\x66t\x94"}, // “Geschäft”
        {"\xc5\xb8\xc3\xbf", "\x9f\xff"},                                         // Ÿÿ
        {"\xc2\x81\xc2\x9d", "\x81\x9d"}, // C1 controls in the five gaps
        {"two\r\nlines", "two\r\nlines"},
        {"", ""},
    };
    for (const Row& row : rows) {
        CHECK_EQ(utf8ToWindows1252(row.utf8).value_or("(refused)"), row.bytes);
        CHECK_EQ(windows1252ToUtf8(row.bytes), row.utf8);
    }
}

TEST(OtherTextsAreRefusedWithTheReason)
{
    struct Row
    {
        std::string utf8;
        std::string problem;
    };
    const Row rows[] = {
        {"\xc5\x81ukasz", "U+0141 \"\xc5\x81\" is not a Windows-1252 character"},
        {"\xf0\x9f\x98\x80", "U+1F600 \"\xf0\x9f\x98\x80\" is not a Windows-1252 character"},
        // The C1 controls Windows-1252 has letters in place of.
        {"\xc2\x80", "U+0080 is not a Windows-1252 character"},
        {"ok\xff", "not valid UTF-8 (at byte 3)"},
        {"a\x80", "not valid UTF-8 (at byte 2)"},
        {"\xc3", "not valid UTF-8 (at byte 1)"},
        {"\xc3(", "not valid UTF-8 (at byte 1)"},
        {"\xc0\xaf", "not valid UTF-8 (at byte 1)"},         // overlong "/"
        {"\xe0\x80\xaf", "not valid UTF-8 (at byte 1)"},     // overlong "/"
        {"\xed\xa0\x80", "not valid UTF-8 (at byte 1)"},     // a surrogate
        {"\xf4\x90\x80\x80", "not valid UTF-8 (at byte 1)"}, // past U+10FFFF
    };
    for (const Row& row : rows) {
        std::string problem;
        const std::optional<std::string> bytes = utf8ToWindows1252(row.utf8, &problem);
        CHECK(!bytes);
        if (problem.rfind(row.problem, 0) != 0)
            storecheck::fail(__FILE__, __LINE__, storecheck::mismatch(problem, row.problem));
    }
}
