#include <gtest/gtest.h>

#include <stdexcept>

#include "host/image.h"
#include "host/parameters.h"

namespace {

TEST(ImageLayout, RowsArePackedTopDownWithEightBytePixels) {
    Image* img = new Image(5, 3, 2.0, 0.5);
    EXPECT_EQ(img->PixelStep, 8);
    ASSERT_EQ(img->RowOffsets.size(), 3u);
    EXPECT_EQ(img->RowOffsets[0], 0);
    EXPECT_EQ(img->RowOffsets[1], 40);
    EXPECT_EQ(img->RowOffsets[2], 80);
    EXPECT_EQ(img->VerticalOrigin, 0);
    EXPECT_DOUBLE_EQ(img->AspectX, 2.0);
    EXPECT_DOUBLE_EQ(img->AspectY, 0.5);
    EXPECT_EQ(img->DataType, DT_Image);
    // A new image is transparent black.
    for (int i = 0; i < 5 * 3 * 4; ++i) ASSERT_EQ(img->Data()[i], 0);
    img->Recycle();
}

TEST(ImagePixels, WriteStoresBlueGreenRedAlphaWordsAndReadReturnsThem) {
    Image* img = new Image(4, 2);
    const HostPixel p{1, 2, 3, 65535};
    img->WritePixel(img->RowOffsets[1] + 2 * img->PixelStep, &p);
    const uint16_t* words = img->Data() + (4 + 2) * 4;
    EXPECT_EQ(words[0], 1);
    EXPECT_EQ(words[1], 2);
    EXPECT_EQ(words[2], 3);
    EXPECT_EQ(words[3], 65535);
    HostPixel q;
    img->ReadPixel(img->RowOffsets[1] + 2 * img->PixelStep, &q);
    EXPECT_EQ(q.B, 1u);
    EXPECT_EQ(q.G, 2u);
    EXPECT_EQ(q.R, 3u);
    EXPECT_EQ(q.A, 65535u);
    // Neighbours untouched.
    EXPECT_EQ(img->GetPixel(1, 1).A, 0u);
    EXPECT_EQ(img->GetPixel(3, 1).A, 0u);
    EXPECT_EQ(img->GetPixel(2, 0).A, 0u);
    img->Recycle();
}

TEST(ImagePixels, WriteKeepsTheLowSixteenBits) {
    Image* img = new Image(1, 1);
    img->SetPixel(0, 0, HostPixel{65536 + 5, 0, 0, 0});
    EXPECT_EQ(img->GetPixel(0, 0).B, 5u);
    img->Recycle();
}

TEST(ImagePixels, FillSetsEveryPixelAndOutsideAccessThrows) {
    Image* img = new Image(3, 2);
    img->Fill(HostPixel{10, 20, 30, 40});
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            HostPixel p = img->GetPixel(x, y);
            EXPECT_EQ(p.B + p.G + p.R + p.A, 100u);
        }
    EXPECT_THROW(img->GetPixel(3, 0), std::out_of_range);
    EXPECT_THROW(img->SetPixel(0, -1, HostPixel{}), std::out_of_range);
    img->Recycle();
}

TEST(ImageSizes, NegativeOrHugeSizesThrowLengthError) {
    EXPECT_THROW(new Image(-1, 10), std::length_error);
    EXPECT_THROW(new Image(10, -1), std::length_error);
    EXPECT_THROW(new Image(70000, 70000), std::length_error);  // > 2^31 pixels
    Image* empty = new Image(0, 0);
    EXPECT_TRUE(empty->RowOffsets.empty());
    empty->Recycle();
}

TEST(ImageCopy, CopyOfImageIsIndependentAndKeepsAspectsOriginAndTags) {
    Image* src = new Image(3, 3, 1.5, 0.75);
    src->Fill(HostPixel{100, 200, 300, 400});
    src->VerticalOrigin = 2;
    src->SetAttrs({{Tags::Field, 1}, {Tags::FullWidth, 6}});
    Image* copy = src->CopyOfImage();
    EXPECT_EQ(copy->RefCount(), 1);
    EXPECT_EQ(copy->Width, 3);
    EXPECT_EQ(copy->Height, 3);
    EXPECT_DOUBLE_EQ(copy->AspectX, 1.5);
    EXPECT_DOUBLE_EQ(copy->AspectY, 0.75);
    EXPECT_EQ(copy->VerticalOrigin, 2);
    EXPECT_EQ(copy->ImageTags().GetLong(Tags::Field, -1), 1);
    EXPECT_EQ(copy->ImageTags().GetLong(Tags::FullWidth, -1), 6);
    EXPECT_EQ(copy->GetPixel(2, 2).R, 300u);

    copy->SetPixel(1, 1, HostPixel{});
    src->SetPixel(0, 0, HostPixel{1, 1, 1, 1});
    EXPECT_EQ(src->GetPixel(1, 1).A, 400u);
    EXPECT_EQ(copy->GetPixel(0, 0).A, 400u);
    src->Recycle();
    EXPECT_EQ(copy->GetPixel(2, 1).G, 200u);  // the copy outlives its source
    copy->Recycle();
}

TEST(LookUpTableIdentity, DefaultTableIsTheRoundedRamp) {
    LookUpTable* lut = new LookUpTable();
    ASSERT_EQ(lut->Count(), LookUpTable::DefaultCount);
    EXPECT_EQ(lut->Table.front(), 0);
    EXPECT_EQ(lut->Table.back(), 65535);
    EXPECT_EQ(lut->Table[1], 64);    // 65535 / 1023 = 64.06
    EXPECT_EQ(lut->Table[512], 32800);  // 512 * 65535 / 1023 = 32799.5..., rounded
    EXPECT_NE(lut->IsOneToOne(), 0);
    lut->Recycle();
}

TEST(LookUpTableIdentity, RampsOfOtherCountsAreIdentityAndAnyChangeIsNot) {
    LookUpTable five({0, 16384, 32768, 49151, 65535});
    EXPECT_NE(five.IsOneToOne(), 0);
    LookUpTable two({0, 65535});
    EXPECT_NE(two.IsOneToOne(), 0);
    LookUpTable bumped({0, 16384, 32769, 49151, 65535});
    EXPECT_EQ(bumped.IsOneToOne(), 0);
    LookUpTable inverted({65535, 0});
    EXPECT_EQ(inverted.IsOneToOne(), 0);
    LookUpTable single({0});
    EXPECT_EQ(single.IsOneToOne(), 0);
    EXPECT_THROW(LookUpTable(std::vector<uint16_t>{}), std::invalid_argument);
}

TEST(PolyLineLinks, PointsAreLinkedInOrderAndTheLastEndsTheList) {
    std::vector<PolyPoint> pts(3);
    for (int i = 0; i < 3; ++i) pts[i].X = float(i);
    pts[1].OutDX = 0.5;
    PolyLine* line = new PolyLine(pts, true);
    EXPECT_TRUE(line->Closed);
    EXPECT_EQ(line->GetCount(0), 3);
    const PolyPoint* p = line->First(0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->X, 0.0f);
    p = p->Next;
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->X, 1.0f);
    EXPECT_EQ(p->OutDX, 0.5);
    p = p->Next;
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->X, 2.0f);
    EXPECT_EQ(p->Next, nullptr);
    line->Recycle();

    PolyLine empty;
    EXPECT_EQ(empty.GetCount(0), 0);
    EXPECT_EQ(empty.First(0), nullptr);
}

}  // namespace
