#include "StoreCheck.h"

#include "store/Scramble.h"

#include <cstdint>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

std::string fromHex(const std::string& hex)
{
    if (hex.size() % 2 != 0)
        throw std::runtime_error("odd hex text: " + hex);
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string randomBytes(std::mt19937& random, std::size_t size)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(byte(random));
    return bytes;
}

} // namespace

// The pairs were computed by an independent implementation of the scrambling.
TEST(VectorsMatchIndependentImplementation)
{
    std::istringstream lines(storecheck::testData("scramble-vectors.tsv"));
    std::string line;
    std::getline(lines, line); // header
    int vectors = 0;
    while (std::getline(lines, line)) {
        const auto tab = line.find('\t');
        CHECK(tab != std::string::npos);
        const std::string plain = fromHex(line.substr(0, tab));
        const std::string scrambled = fromHex(line.substr(tab + 1));
        CHECK_EQ(EncodeField(plain, ScrambleKey), scrambled);
        CHECK_EQ(DecodeField(scrambled, ScrambleKey), plain);
        ++vectors;
    }
    CHECK(vectors >= 10); // the file was read, not silently empty
}

TEST(EmptyTextStaysEmpty)
{
    CHECK_EQ(EncodeField("", ScrambleKey), std::string());
    CHECK_EQ(DecodeField("", ScrambleKey), std::string());
}

TEST(DecodeUndoesEncodeForArbitraryBytes)
{
    std::mt19937 random(20261210);
    const std::string edges[] = {std::string(1, '\0'), std::string(300, '\0'),
                                 std::string(300, '\xff'), std::string("\x00\xff\x00\xff", 4)};
    for (const std::string& text : edges) {
        CHECK_EQ(DecodeField(EncodeField(text, ScrambleKey), ScrambleKey), text);
        CHECK_EQ(EncodeField(DecodeField(text, ScrambleKey), ScrambleKey), text);
    }
    for (int round = 0; round < 2000; ++round) {
        const std::string text = randomBytes(random, random() % 300);
        const auto key = static_cast<std::uint32_t>(random());
        const std::string scrambled = EncodeField(text, key);
        CHECK_EQ(scrambled.size(), text.size());
        CHECK_EQ(DecodeField(scrambled, key), text);
    }
}

// Only the low 16 bits of the key take part.
TEST(OnlyLowSixteenBitsOfKeyCount)
{
    const std::string text = "Larkledger";
    CHECK_EQ(EncodeField(text, ScrambleKey), EncodeField(text, ScrambleKey & 0xFFFFu));
    CHECK_EQ(EncodeField(text, ScrambleKey), EncodeField(text, ScrambleKey + 0x10000u));
    CHECK(EncodeField(text, ScrambleKey) != EncodeField(text, ScrambleKey + 1));
}

// A value cut to its field is the scrambling of the cut plain value, which is
// what lets the store scramble whole and cut afterwards.
TEST(PrefixOfScrambledIsScrambledPrefix)
{
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        const std::string text = randomBytes(random, 1 + random() % 40);
        const std::size_t cut = random() % (text.size() + 1);
        CHECK_EQ(EncodeField(text, ScrambleKey).substr(0, cut),
                 EncodeField(text.substr(0, cut), ScrambleKey));
    }
}
