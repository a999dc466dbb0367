#include "render/host_pixels.h"

#include <utility>

void ReadImagePixels(const Image* img, std::vector<uint16_t>& out, bool bgra) {
    out.resize(std::size_t(img->Width) * std::size_t(img->Height) * 4);
    uint16_t* px = out.data();
    const int r = bgra ? 2 : 0, b = bgra ? 0 : 2;  // where red and blue go
    if (DirectAccess(img)) {
        // The host's own layout: blue, green, red, alpha words at each offset.
        for (int32_t row = 0; row < img->Height; ++row) {
            const uint16_t* in = img->Data() + img->RowOffsets[std::size_t(row)] / 2;
            const int64_t step = img->PixelStep / 2;
            for (int32_t c = 0; c < img->Width; ++c, in += step, px += 4) {
                px[r] = in[2];
                px[1] = in[1];
                px[b] = in[0];
                px[3] = in[3];
            }
        }
        return;
    }
    HostPixel hp;
    for (int32_t row = 0; row < img->Height; ++row) {
        int64_t offset = img->RowOffsets[std::size_t(row)];
        for (int32_t c = 0; c < img->Width; ++c, offset += img->PixelStep, px += 4) {
            img->ReadPixel(offset, &hp);
            px[r] = uint16_t(hp.R);
            px[1] = uint16_t(hp.G);
            px[b] = uint16_t(hp.B);
            px[3] = uint16_t(hp.A);
        }
    }
}

bool SameRoutines(const Image* img) {
    static const auto routines = [] {
        Image* probe = new Image(1, 1);
        const auto fns = std::make_pair(probe->ReadPixelFn, probe->WritePixelFunc);
        probe->Recycle();
        return fns;
    }();
    return img->ReadPixelFn == routines.first && img->WritePixelFunc == routines.second;
}

bool DirectAccess(const Image* out) {
    if (!SameRoutines(out)) return false;
    if (out->PixelStep < 8 || out->PixelStep % 2 != 0) return false;
    for (int64_t offset : out->RowOffsets)
        if (offset < 0 || offset % 2 != 0) return false;
    return true;
}

bool ContiguousDirect(const Image* img) {
    // Rows in this order are offsets DirectAccess accepts: only its checks of
    // the routines are needed (every particle's image is checked, each frame).
    if (!SameRoutines(img) || img->PixelStep != 8) return false;
    for (int32_t r = 0; r < img->Height; ++r)
        if (img->RowOffsets[std::size_t(r)] != int64_t(r) * img->Width * 8) return false;
    return true;
}

void BlendThroughRoutines(Image* out, int64_t offset, const uint16_t* P, int32_t n, uint32_t F, uint32_t M) {
    const Blend blend{F, M};
    HostPixel hp;
    uint32_t bg[4], res[4];
    for (int32_t c = 0; c < n; ++c, P += 4, offset += out->PixelStep) {
        out->ReadPixel(offset, &hp);
        bg[0] = hp.B;
        bg[1] = hp.G;
        bg[2] = hp.R;
        bg[3] = hp.A;
        const uint16_t px[4] = {P[2], P[1], P[0], P[3]};  // Blend takes red, green, blue, alpha
        blend(bg, px, res);
        hp.B = res[0];
        hp.G = res[1];
        hp.R = res[2];
        hp.A = res[3];
        out->WritePixel(offset, &hp);
    }
}
