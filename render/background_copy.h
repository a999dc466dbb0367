#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/image.h"

// The output's pixels, copied from the background it shared them with by the
// workers, each band's rows by the worker that draws the band, before it first
// draws there: the copy of a large frame then runs on every core. Any band not
// copied when compositing ends (an exception on the way, say) is copied on
// destruction, so the output never keeps unset words.
class BackgroundCopy {
public:
    BackgroundCopy(Image* out, int32_t bandRows);
    BackgroundCopy(const BackgroundCopy&) = delete;
    BackgroundCopy& operator=(const BackgroundCopy&) = delete;
    ~BackgroundCopy();
    // Copies band b unless it is done.
    void Band(int32_t b);

private:
    std::shared_ptr<const uint16_t[]> From;
    uint16_t* To = nullptr;
    std::size_t RowWords = 0;
    int32_t Rows = 0, BandRows = 1;
    std::vector<uint8_t> Done;
};
