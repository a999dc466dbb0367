#include "render/background_copy.h"

#include <algorithm>

#include "render/host_pixels.h"

BackgroundCopy::BackgroundCopy(Image* out, int32_t bandRows) {
    // Only an output whose rows lie one after the other, in this host's
    // layout, is copied by rows; any other takes its own pixels here.
    if (!ContiguousDirect(out)) {
        (void)out->Data();
        return;
    }
    From = out->UnshareUnset();
    if (!From) return;
    To = out->Data();
    RowWords = std::size_t(out->Width) * 4;
    Rows = out->Height;
    BandRows = bandRows;
    Done.assign(std::size_t((Rows + BandRows - 1) / BandRows), 0);
}

BackgroundCopy::~BackgroundCopy() {
    for (std::size_t b = 0; b < Done.size(); ++b) Band(int32_t(b));
}

void BackgroundCopy::Band(int32_t b) {
    if (!From || std::size_t(b) >= Done.size() || Done[std::size_t(b)]) return;
    const std::size_t y0 = std::size_t(b) * std::size_t(BandRows);
    const std::size_t y1 = std::min(y0 + std::size_t(BandRows), std::size_t(Rows));
    std::copy(From.get() + y0 * RowWords, From.get() + y1 * RowWords, To + y0 * RowWords);
    Done[std::size_t(b)] = 1;
}
