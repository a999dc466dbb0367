#include "host/image.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

// Largest number of pixels an image may have: keeps every byte offset and the
// allocation size far inside 64-bit arithmetic.
constexpr int64_t MaxPixels = int64_t(1) << 31;

void ReadBGRA16(const Image* img, int64_t byteOffset, HostPixel* p) {
    const uint16_t* w = img->Data() + byteOffset / 2;
    p->B = w[0];
    p->G = w[1];
    p->R = w[2];
    p->A = w[3];
}

void WriteBGRA16(Image* img, int64_t byteOffset, const HostPixel* p) {
    uint16_t* w = img->Data() + byteOffset / 2;
    w[0] = uint16_t(p->B);
    w[1] = uint16_t(p->G);
    w[2] = uint16_t(p->R);
    w[3] = uint16_t(p->A);
}

int64_t CheckedPixelCount(int32_t width, int32_t height) {
    if (width < 0 || height < 0)
        throw std::length_error("image size " + std::to_string(width) + " x " + std::to_string(height) +
                                " is negative");
    const int64_t count = int64_t(width) * int64_t(height);
    if (count > MaxPixels)
        throw std::length_error("image size " + std::to_string(width) + " x " + std::to_string(height) +
                                " is too large");
    return count;
}

}  // namespace

Image::Image(NoPixels, int32_t width, int32_t height, double aspectX, double aspectY)
    : Parameter(DT_Image),
      Width(width),
      Height(height),
      AspectX(aspectX),
      AspectY(aspectY),
      ReadPixelFn(&ReadBGRA16),
      WritePixelFunc(&WriteBGRA16) {
    CheckedPixelCount(width, height);
    RowOffsets.resize(size_t(height));
    for (int32_t r = 0; r < height; ++r) RowOffsets[size_t(r)] = int64_t(r) * width * PixelStep;
}

Image::Image(int32_t width, int32_t height, double aspectX, double aspectY)
    : Image(NoPixels{}, width, height, aspectX, aspectY) {
    Pixels = std::shared_ptr<uint16_t[]>(new uint16_t[WordCount()]());
}

Image* Image::CopyOfImage() const {
    Image* copy = new Image(NoPixels{}, Width, Height, AspectX, AspectY);
    copy->Pixels = Pixels;  // shared until one of the two writes
    copy->VerticalOrigin = VerticalOrigin;
    copy->Attrs = GetAttrs();
    return copy;
}

void Image::Unshare() {
    std::shared_ptr<uint16_t[]> own(new uint16_t[WordCount()]);
    std::copy_n(Pixels.get(), WordCount(), own.get());
    Pixels = std::move(own);
}

std::shared_ptr<const uint16_t[]> Image::UnshareUnset() {
    if (Pixels.use_count() == 1) return nullptr;
    std::shared_ptr<const uint16_t[]> shared = Pixels;
    Pixels = std::shared_ptr<uint16_t[]>(new uint16_t[WordCount()]);
    return shared;
}

HostPixel Image::GetPixel(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= Width || y >= Height)
        throw std::out_of_range("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") outside the image");
    HostPixel p;
    ReadPixel(RowOffsets[size_t(y)] + int64_t(x) * PixelStep, &p);
    return p;
}

void Image::SetPixel(int32_t x, int32_t y, const HostPixel& p) {
    if (x < 0 || y < 0 || x >= Width || y >= Height)
        throw std::out_of_range("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") outside the image");
    WritePixel(RowOffsets[size_t(y)] + int64_t(x) * PixelStep, &p);
}

void Image::Fill(const HostPixel& p) {
    for (int32_t y = 0; y < Height; ++y)
        for (int32_t x = 0; x < Width; ++x) WritePixel(RowOffsets[size_t(y)] + int64_t(x) * PixelStep, &p);
}
