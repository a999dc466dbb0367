// Frame lists as farm tools write them: parsing, the short text form and chunks.
#include <gtest/gtest.h>

#include "app/io/errors.h"
#include "app/io/frame_list.h"

using lumets::FrameList;

TEST(FrameList, ParsesRangesStepsSinglesAndLists) {
    EXPECT_EQ(FrameList::Parse("1-10x2,15,20-22").Frames(), (std::vector<int64_t>{1, 3, 5, 7, 9, 15, 20, 21, 22}));
    EXPECT_EQ(FrameList::Parse(" 7 ").Frames(), (std::vector<int64_t>{7}));
    EXPECT_EQ(FrameList::Parse("-3--1").Frames(), (std::vector<int64_t>{-3, -2, -1}));
    // Out of order and repeated frames are rendered once, forwards.
    EXPECT_EQ(FrameList::Parse("9,2-4,3").Frames(), (std::vector<int64_t>{2, 3, 4, 9}));
    for (const char* bad : {"", "abc", "1-", "1-5x0", "1-5x", "5-1", "1,,2", "1-3,", "1-5y2", "12345678"})
        EXPECT_THROW(FrameList::Parse(bad), lumets::UserError) << bad;
    EXPECT_THROW(FrameList::Parse("0-9999999,-9999999-0"), lumets::UserError);  // more than ten million frames
}

TEST(FrameList, TextReadsBackAsTheSameListAndChunksKeepOrder) {
    for (const char* text : {"0-9", "1-9x2,15", "4,9", "1,3", "0-2,10-20x5,40", "-5--3,7"}) {
        const FrameList list = FrameList::Parse(text);
        EXPECT_EQ(list.Text(), text);
        EXPECT_EQ(FrameList::Parse(list.Text()).Frames(), list.Frames());
    }
    const auto chunks = FrameList::Parse("0-9,20").Chunks(4);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].Text(), "0-3");
    EXPECT_EQ(chunks[1].Text(), "4-7");
    EXPECT_EQ(chunks[2].Text(), "8-9,20");
    EXPECT_TRUE(chunks[1].Contiguous());
    EXPECT_FALSE(chunks[2].Contiguous());
}
