#pragma once

#include "UserRecord.h"

#include <cstdint>
#include <string_view>

constexpr std::uint32_t ScrambleKey = 52718364;

AnsiString EncodeField(std::string_view text, std::uint32_t key);
AnsiString DecodeField(std::string_view text, std::uint32_t key);

// The plain value of a stored (scrambled) field.
template <std::size_t N> AnsiString decoded(const ShortString<N>& field)
{
    return DecodeField(field.value(), ScrambleKey);
}

// Scrambles a plain value whole, then stores it cut to the field's capacity.
template <std::size_t N> void storeEncoded(ShortString<N>& field, std::string_view plain)
{
    field.assign(EncodeField(plain, ScrambleKey));
}
