#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/parameters.h"

// What an image's read-pixel and write-pixel routines fill and take:
// four 32-bit values in the order blue, green, red, alpha, each 0 to 65535.
struct HostPixel {
    uint32_t B = 0, G = 0, R = 0, A = 0;
};

// A host image. Pixels are stored as 16-bit blue, green, red, alpha (8 bytes per
// pixel); row r starts at byte RowOffsets[r] and pixels follow PixelStep bytes
// apart. Row 0 is the top row; VerticalOrigin is 0 for every image this host makes.
//
// Copies share their pixels until one of them writes: CopyOfImage costs no
// pixel memory, and the first write through Data() (or WritePixel) gives the
// writer its own pixels. An image shared with others must not be written by
// several threads at once before it has its own (call Data() once first).
class Image : public Parameter {
public:
    using PixelFn = void (*)(const Image* img, int64_t byteOffset, HostPixel* p);
    using WritePixelFn = void (*)(Image* img, int64_t byteOffset, const HostPixel* p);

    // A transparent black image. Throws std::bad_alloc (or std::length_error for
    // sizes that cannot be represented) when the pixels cannot be allocated.
    Image(int32_t width, int32_t height, double aspectX = 1.0, double aspectY = 1.0);

    // A new image with the same pixels, aspects and attribute list, owned by the caller.
    Image* CopyOfImage() const;

    void ReadPixel(int64_t byteOffset, HostPixel* p) const { ReadPixelFn(this, byteOffset, p); }
    void WritePixel(int64_t byteOffset, const HostPixel* p) { WritePixelFunc(this, byteOffset, p); }

    // Convenience for hosts and tests: pixel (x, y) through the routines above.
    HostPixel GetPixel(int32_t x, int32_t y) const;
    void SetPixel(int32_t x, int32_t y, const HostPixel& p);
    void Fill(const HostPixel& p);

    // Direct access to the 16-bit B, G, R, A words (for fast paths that give the
    // same result as the routines). The writable words are the image's own.
    uint16_t* Data() {
        if (Pixels.use_count() != 1) Unshare();
        return Pixels.get();
    }
    const uint16_t* Data() const { return Pixels.get(); }
    // Whether the pixels are shared with a copy (neither has written since).
    bool SharesPixels() const { return Pixels.use_count() != 1; }
    // Gives a shared image pixels of its own, as the first Data() does, but
    // leaves their words unset: the caller copies them from the returned
    // pixels (Width * Height * 4 words, in the image's layout), in pieces and
    // on several threads if it likes, before anything else reads the image.
    // An image with pixels of its own keeps them and gets null.
    std::shared_ptr<const uint16_t[]> UnshareUnset();

    // The image's attribute list (full width and height, field indicator).
    TagList& ImageTags() { return Attrs; }
    const TagList& ImageTags() const { return Attrs; }

    const int32_t Width, Height;
    int32_t VerticalOrigin = 0;
    double AspectX, AspectY;
    int32_t PixelStep = 8;
    std::vector<int64_t> RowOffsets;
    PixelFn ReadPixelFn;
    WritePixelFn WritePixelFunc;

private:
    struct NoPixels {};
    Image(NoPixels, int32_t width, int32_t height, double aspectX, double aspectY);
    void Unshare();
    std::size_t WordCount() const { return std::size_t(Width) * std::size_t(Height) * 4; }
    std::shared_ptr<uint16_t[]> Pixels;
};
