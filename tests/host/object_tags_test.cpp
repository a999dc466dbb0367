#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <vector>

#include "host/object.h"
#include "host/parameters.h"
#include "host/tags.h"

namespace {

class Tracked : public Object {
public:
    explicit Tracked(bool* destroyed) : Destroyed(destroyed) {}

protected:
    ~Tracked() override { *Destroyed = true; }

private:
    bool* Destroyed;
};

TEST(ObjectRefCount, RecycleDeletesOnlyWithTheLastReferenceAlsoUnderConcurrentChurn) {
    bool destroyed = false;
    Tracked* obj = new Tracked(&destroyed);
    EXPECT_EQ(obj->RefCount(), 1);
    obj->AddRef();
    obj->AddRef();
    EXPECT_EQ(obj->RefCount(), 3);
    obj->Recycle();
    obj->Recycle();
    auto churn = [obj] {
        for (int i = 0; i < 100000; ++i) {
            obj->AddRef();
            obj->Recycle();
        }
    };
    std::thread a(churn), b(churn);
    a.join();
    b.join();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(obj->RefCount(), 1);
    obj->Recycle();
    EXPECT_TRUE(destroyed);
}

TEST(ObjectAttributes, SetAttrsReplacesInPlaceAppendsAndIsSafeAgainstAConcurrentReader) {
    Number* n = new Number(0.0);
    n->SetAttrs({{Tags::Disabled, 1}, {Tags::RangeLow, 0.25}, {Tags::RangeHigh, 10}});
    n->SetAttrs({{Tags::Disabled, 0}});
    EXPECT_EQ(n->GetAttrLong(Tags::Disabled, -1), 0);
    EXPECT_EQ(n->GetAttrDouble(Tags::RangeLow, -1), 0.25);
    EXPECT_EQ(n->GetAttrLong(Tags::Visible, 7), 7);
    std::vector<uint32_t> order;
    for (const TagItem& item : n->GetAttrs().Items) order.push_back(item.Tag);
    EXPECT_EQ(order, (std::vector<uint32_t>{Tags::Disabled, Tags::RangeLow, Tags::RangeHigh}));

    std::thread writer([n] {
        for (int i = 0; i < 20000; ++i) n->SetAttrs({{Tags::RangeHigh, double(10 + i)}, {Tags::Group, i}});
    });
    double last = -1;
    bool monotonic = true;
    for (int i = 0; i < 20000; ++i) {
        const double v = n->GetAttrDouble(Tags::RangeHigh, -1);
        monotonic = monotonic && v >= last;
        last = v;
    }
    writer.join();
    EXPECT_TRUE(monotonic);
    EXPECT_EQ(n->GetAttrDouble(Tags::RangeHigh, -1), 20009.0);
    n->Recycle();
}

TEST(TagListValues, DoublesReadAsLongsCutTowardZeroAndHeldAtTheInt32EndsPointersRoundTripAndRemoveDeletes) {
    TagList tags{{Tags::Default, 2.75}, {Tags::DefaultX, -3.9}, {Tags::Integer, 5},
                 {Tags::RangeHigh, 1e300}, {Tags::RangeLow, -1e300}};
    const std::tuple<uint32_t, int32_t, double> rows[] = {
        {Tags::Default, 2, 2.75},          {Tags::DefaultX, -3, -3.9},         {Tags::Integer, 5, 5.0},
        {Tags::RangeHigh, INT32_MAX, 1e300}, {Tags::RangeLow, INT32_MIN, -1e300}, {Tags::DefaultY, 42, 1.5}};
    for (auto [tag, asLong, asDouble] : rows) {
        EXPECT_EQ(tags.GetLong(tag, 42), asLong) << std::hex << tag;
        EXPECT_EQ(tags.GetDouble(tag, 1.5), asDouble) << std::hex << tag;
    }
    // Longs are 32-bit; pointers round trip.
    static const char text[] = "hello";
    TagList more{{0x10000005, 0x8046000D}, {Tags::DefaultText, text}};
    EXPECT_EQ(uint32_t(more.GetLong(0x10000005, 0)), 0x8046000Du);
    EXPECT_EQ(reinterpret_cast<const char*>(more.GetPtr(Tags::DefaultText, 0)), text);
    EXPECT_EQ(more.GetPtr(Tags::PageControl, 99), 99);
    tags.Remove(Tags::DefaultX);
    EXPECT_FALSE(tags.Has(Tags::DefaultX));
    EXPECT_TRUE(tags.Has(Tags::Integer));
    EXPECT_EQ(tags.Items.size(), 4u);
}

}  // namespace
