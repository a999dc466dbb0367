// The filter's parameters drive exactly the controls the control table marks
// for frei0r, each once (a point through its two coordinates).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "frei0r/filter.h"
#include "host/fourcc.h"
#include "operator/control_table.h"

TEST(Frei0rParameters, DriveTheControlsTheTableOffers) {
    std::multiset<std::string> driven;
    for (const auto& p : lumets::frei0r::Params)
        if (p.Control && p.Coordinate <= 0) driven.insert(p.Control);
    std::multiset<std::string> offered;
    for (const controls::Control& c : controls::All()) {
        if (!c.Frei0r) continue;
        offered.insert(c.Key);
        // A number parameter spans the control's range; a point's coordinates are 0..1.
        if (c.Type == DT_Number) {
            EXPECT_TRUE(c.Low && c.High && *c.High > *c.Low) << c.Key;
        }
    }
    EXPECT_EQ(driven, offered);
}
