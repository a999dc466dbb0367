#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>

#include "host/archive.h"

namespace {

TEST(Archive, EveryTypeIsStoredLittleEndianWithoutPaddingAndReadsBackBitForBit) {
    const float f = std::nextafter(0.1f, 1.0f);
    const double d = -1.0 / 3.0;
    CArchive out;
    out << uint32_t(0x11223344) << int32_t(INT32_MIN + 1) << uint16_t(0xA1B2) << f << d;
    out.Write("abc", 3);
    const std::vector<uint8_t> expected = {
        0x44, 0x33, 0x22, 0x11,                          // uint32
        0x01, 0x00, 0x00, 0x80,                          // int32 -2^31 + 1
        0xB2, 0xA1,                                      // uint16
        0xCE, 0xCC, 0xCC, 0x3D,                          // float just above 0.1
        0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0xD5, 0xBF,  // double -1/3
        'a',  'b',  'c'};
    EXPECT_EQ(out.Buffer(), expected);

    CArchive in(out.Buffer());
    uint32_t u;
    int32_t i;
    uint16_t w;
    float f2;
    double d2;
    char raw[3];
    in >> u >> i >> w >> f2 >> d2;
    in.Read(raw, 3);
    EXPECT_EQ(std::tuple(u, i, w, std::string(raw, 3)), std::tuple(0x11223344u, INT32_MIN + 1, 0xA1B2, "abc"));
    EXPECT_EQ(std::bit_cast<uint32_t>(f2), std::bit_cast<uint32_t>(f));
    EXPECT_EQ(std::bit_cast<uint64_t>(d2), std::bit_cast<uint64_t>(d));
    EXPECT_EQ(in.Remaining(), 0u);
}

TEST(Archive, ReadingPastTheEndThrowsAndConsumesNothingAndTheWrongDirectionIsRefused) {
    CArchive in(std::vector<uint8_t>{1, 2, 3});
    uint32_t v = 7;
    try {
        in >> v;
        ADD_FAILURE() << "no exception";
    } catch (const CArchiveException& e) {
        EXPECT_NE(std::string(e.what()).find("past end"), std::string::npos) << e.what();
    }
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(in.Position(), 0u);
    uint16_t w;
    in >> w;
    EXPECT_EQ(w, 0x0201);
    EXPECT_THROW(in >> w, CArchiveException);
    CArchive store;
    EXPECT_THROW(store >> v, CArchiveException);
    EXPECT_THROW(in << uint32_t(1), CArchiveException);
}

}  // namespace
