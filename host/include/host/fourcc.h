#pragma once
#include <cstdint>
#include <string>

// Four-character codes: a 32-bit value whose four bytes in memory (little-endian)
// spell the code. FourCC("Numb") == 0x626D754E.
constexpr uint32_t FourCC(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

// The four bytes of a code in memory order, for display. Bytes outside printable
// ASCII are kept as they are; callers that print them escape them.
inline std::string FourCCText(uint32_t v) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[i] = char((v >> (8 * i)) & 0xFF);
    return s;
}

// Data types of inputs and outputs.
constexpr uint32_t DT_Number = FourCC("Numb");
constexpr uint32_t DT_Point = FourCC("Poin");
constexpr uint32_t DT_Text = FourCC("Text");
constexpr uint32_t DT_PolyLine = FourCC("PlLn");
constexpr uint32_t DT_LookUpTable = FourCC("LUT!");
constexpr uint32_t DT_Image = FourCC("Imag");
