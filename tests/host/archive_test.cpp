#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "host/archive.h"

namespace {

TEST(ArchiveEncoding, EveryTypeIsStoredLittleEndianWithoutPadding) {
    CArchive ar;
    EXPECT_TRUE(ar.IsStoring());
    ar << uint32_t(0x11223344) << int32_t(-2) << uint16_t(0xA1B2) << 1.0f << -2.0;
    const std::vector<uint8_t> expected = {
        0x44, 0x33, 0x22, 0x11,                          // uint32
        0xFE, 0xFF, 0xFF, 0xFF,                          // int32 -2
        0xB2, 0xA1,                                      // uint16
        0x00, 0x00, 0x80, 0x3F,                          // float 1.0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0,  // double -2.0
    };
    EXPECT_EQ(ar.Buffer(), expected);
}

TEST(ArchiveEncoding, LoadingReadsBackWhatWasStoredBitForBit) {
    CArchive out;
    const float f = std::nextafter(0.1f, 1.0f);
    const double d = -1.0 / 3.0;
    out << uint32_t(0xDEADBEEF) << int32_t(INT32_MIN) << uint16_t(65535) << f << d;
    const char raw[] = "abc";
    out.Write(raw, 3);

    CArchive in(out.Buffer());
    EXPECT_TRUE(in.IsLoading());
    uint32_t u;
    int32_t i;
    uint16_t w;
    float f2;
    double d2;
    char raw2[3];
    in >> u >> i >> w >> f2 >> d2;
    in.Read(raw2, 3);
    EXPECT_EQ(u, 0xDEADBEEFu);
    EXPECT_EQ(i, INT32_MIN);
    EXPECT_EQ(w, 65535);
    EXPECT_EQ(std::memcmp(&f, &f2, 4), 0);
    EXPECT_EQ(std::memcmp(&d, &d2, 8), 0);
    EXPECT_EQ(std::memcmp(raw, raw2, 3), 0);
    EXPECT_EQ(in.Remaining(), 0u);
}

TEST(ArchiveErrors, ReadingPastTheEndThrowsAndConsumesNothing) {
    CArchive in(std::vector<uint8_t>{1, 2, 3});
    uint32_t v = 7;
    EXPECT_THROW(in >> v, CArchiveException);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(in.Position(), 0u);
    uint16_t w;
    in >> w;
    EXPECT_EQ(w, 0x0201);
    try {
        in >> w;
        FAIL() << "no exception";
    } catch (const CArchiveException& e) {
        EXPECT_NE(std::string(e.what()).find("past end"), std::string::npos) << e.what();
    }
}

TEST(ArchiveErrors, WrongDirectionIsRefused) {
    CArchive store;
    uint32_t v;
    EXPECT_THROW(store >> v, CArchiveException);
    CArchive load(std::vector<uint8_t>{});
    EXPECT_THROW(load << uint32_t(1), CArchiveException);
}

}  // namespace
