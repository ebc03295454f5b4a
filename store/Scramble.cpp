#include "Scramble.h"

namespace {

enum class Direction
{
    Encode,
    Decode
};

AnsiString scramble(std::string_view text, std::uint32_t key, Direction direction)
{
    AnsiString out(text.size(), '\0');
    std::uint16_t state = static_cast<std::uint16_t>(key & 0xFFFFu);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto in = static_cast<std::uint8_t>(text[i]);
        const auto result = static_cast<std::uint8_t>(in ^ (state >> 8));
        out[i] = static_cast<char>(result);
        // The state always moves on with the scrambled byte, so both
        // directions stay in step.
        const std::uint32_t scrambled = direction == Direction::Encode ? result : in;
        state = static_cast<std::uint16_t>((state + scrambled) * 61427u + 28536u);
    }
    return out;
}

} // namespace

AnsiString EncodeField(std::string_view text, std::uint32_t key)
{
    return scramble(text, key, Direction::Encode);
}

AnsiString DecodeField(std::string_view text, std::uint32_t key)
{
    return scramble(text, key, Direction::Decode);
}
