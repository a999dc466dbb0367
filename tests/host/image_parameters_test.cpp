#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>
#include <vector>

#include "host/image.h"
#include "host/parameters.h"

namespace {

TEST(ImageLayout, RowsArePackedTopDownWithEightBytePixelsAndStartTransparent) {
    Image* img = new Image(5, 3);
    EXPECT_EQ(std::tuple(img->PixelStep, img->VerticalOrigin), std::tuple(8, 0));
    EXPECT_EQ(img->RowOffsets, (std::vector<int64_t>{0, 40, 80}));
    EXPECT_EQ(std::vector<uint16_t>(img->Data(), img->Data() + 5 * 3 * 4), std::vector<uint16_t>(5 * 3 * 4, 0));
    img->Recycle();

    for (auto [w, h] : {std::pair{-1, 10}, {10, -1}, {70000, 70000}}) EXPECT_THROW(new Image(w, h), std::length_error);
    Image* empty = new Image(0, 0);
    EXPECT_TRUE(empty->RowOffsets.empty());
    empty->Recycle();
}

TEST(ImagePixels, WriteStoresBlueGreenRedAlphaLowWordsAndReadAndFillAgree) {
    Image* img = new Image(4, 2);
    const HostPixel p{1, 2, 65536 + 3, 65535};  // the low 16 bits are kept
    img->WritePixel(img->RowOffsets[1] + 2 * img->PixelStep, &p);
    const uint16_t* words = img->Data() + (4 + 2) * 4;
    EXPECT_EQ(std::vector<uint16_t>(words, words + 4), (std::vector<uint16_t>{1, 2, 3, 65535}));
    HostPixel q;
    img->ReadPixel(img->RowOffsets[1] + 2 * img->PixelStep, &q);
    EXPECT_EQ(std::tuple(q.B, q.G, q.R, q.A), std::tuple(1u, 2u, 3u, 65535u));
    for (auto [x, y] : {std::pair{1, 1}, {3, 1}, {2, 0}}) EXPECT_EQ(img->GetPixel(x, y).A, 0u) << "neighbour";
    EXPECT_THROW(img->GetPixel(4, 0), std::out_of_range);
    EXPECT_THROW(img->SetPixel(0, -1, HostPixel{}), std::out_of_range);

    img->Fill(HostPixel{10, 20, 30, 40});
    for (int i = 0; i < 4 * 2; ++i) {
        const HostPixel f = img->GetPixel(i % 4, i / 4);
        EXPECT_EQ(std::tuple(f.B, f.G, f.R, f.A), std::tuple(10u, 20u, 30u, 40u)) << i;
    }
    img->Recycle();
}

TEST(ImageCopy, CopyOfImageSharesPixelsUntilAWriteAndKeepsAspectsOriginAndTags) {
    Image* src = new Image(3, 3, 1.5, 0.75);
    src->Fill(HostPixel{100, 200, 300, 400});
    src->VerticalOrigin = 2;
    src->SetAttrs({{Tags::Field, 1}, {Tags::FullWidth, 6}});
    Image* copy = src->CopyOfImage();
    EXPECT_EQ(copy->RefCount(), 1);
    EXPECT_EQ(std::tuple(copy->Width, copy->Height, copy->AspectX, copy->AspectY, copy->VerticalOrigin),
              std::tuple(3, 3, 1.5, 0.75, 2));
    EXPECT_EQ(std::tuple(copy->ImageTags().GetLong(Tags::Field, -1), copy->ImageTags().GetLong(Tags::FullWidth, -1)),
              std::tuple(1, 6));
    const Image* constCopy = copy;
    EXPECT_TRUE(copy->SharesPixels() && src->SharesPixels());
    EXPECT_EQ(constCopy->Data(), static_cast<const Image*>(src)->Data());
    copy->SetPixel(1, 1, HostPixel{});
    EXPECT_FALSE(copy->SharesPixels() || src->SharesPixels());
    src->SetPixel(0, 0, HostPixel{1, 1, 1, 1});
    EXPECT_EQ(src->GetPixel(1, 1).A, 400u);
    EXPECT_EQ(copy->GetPixel(0, 0).A, 400u);
    src->Recycle();
    EXPECT_EQ(copy->GetPixel(2, 1).G, 200u);  // the copy outlives its source

    // UnshareUnset: the copy gets pixels of its own, and the shared ones back
    // to copy from; they stay whole while the other image writes.
    Image* again = copy->CopyOfImage();
    const uint16_t* before = static_cast<const Image*>(copy)->Data();
    std::shared_ptr<const uint16_t[]> shared = again->UnshareUnset();
    ASSERT_EQ(shared.get(), before);
    EXPECT_FALSE(again->SharesPixels());
    EXPECT_NE(static_cast<const Image*>(again)->Data(), before);
    copy->Recycle();
    EXPECT_EQ(shared[(1 * 3 + 2) * 4 + 1], 200);
    EXPECT_EQ(again->UnshareUnset(), nullptr);  // already its own
    again->Recycle();
}

TEST(LookUpTableIdentity, TheDefaultIsTheRoundedRampAndOnlyRampsAreIdentity) {
    LookUpTable* lut = new LookUpTable();
    ASSERT_EQ(lut->Count(), 1024);
    // 65535 / 1023 = 64.06 and 512 * 65535 / 1023 = 32799.5..., rounded.
    EXPECT_EQ(std::tuple(lut->Table[0], lut->Table[1], lut->Table[512], lut->Table[1023]),
              std::tuple(0, 64, 32800, 65535));
    EXPECT_NE(lut->IsOneToOne(), 0);
    lut->Recycle();

    const std::pair<std::vector<uint16_t>, bool> tables[] = {{{0, 16384, 32768, 49151, 65535}, true},
                                                             {{0, 65535}, true},
                                                             {{0, 16384, 32769, 49151, 65535}, false},
                                                             {{65535, 0}, false},
                                                             {{0}, false}};
    for (const auto& [table, identity] : tables)
        EXPECT_EQ(LookUpTable(table).IsOneToOne() != 0, identity) << table.size();
    EXPECT_THROW(LookUpTable(std::vector<uint16_t>{}), std::invalid_argument);
}

TEST(PolyLineLinks, PointsAreLinkedInOrderAndTheLastEndsTheList) {
    std::vector<PolyPoint> pts(3);
    for (int i = 0; i < 3; ++i) pts[i].X = float(i);
    pts[1].OutDX = 0.5;
    PolyLine* line = new PolyLine(pts, true);
    EXPECT_TRUE(line->Closed);
    std::vector<float> xs;
    for (const PolyPoint* p = line->First(0); p && xs.size() < 9; p = p->Next) xs.push_back(p->X);
    EXPECT_EQ(xs, (std::vector<float>{0, 1, 2}));
    EXPECT_EQ(line->First(0)->Next->OutDX, 0.5);
    line->Recycle();
    PolyLine empty;
    EXPECT_EQ(empty.GetCount(0), 0);
    EXPECT_EQ(empty.First(0), nullptr);
}

}  // namespace
