// Text helpers: numbers with thousands marks, UTF-8 widths, tokens and hex digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rv {

// "2048000" -> "2'048'000".
std::string FormatThousands(std::string_view digits);
std::string FormatThousands(uint64_t value);
// Optional leading "-" then one or more digits 0-9, nothing else.
bool IsNumber(std::string_view text);
// Blank-padded to width characters, or cut to its first width characters (UTF-8 aware).
std::string PadOrCut(std::string_view text, size_t width);
// Number of characters (code points) of a UTF-8 text.
size_t Utf8Length(std::string_view text);

bool CharIn(char c, std::string_view text);
// token := text up to the first delimiter; text := what follows that delimiter (empty if none).
std::string CutToken(std::string& text, std::string_view delimiters);
bool IsHexByte(std::string_view text);
uint32_t HexByteValue(std::string_view text);
uint32_t HexDigitValue(char c);
uint32_t HexToInt(std::string_view text);
// Eight upper-case hex digits followed by "(h)".
std::string HexFlags(uint32_t value);

}  // namespace rv
