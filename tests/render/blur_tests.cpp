#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "render/blur.h"
#include "render_fixture.h"

namespace {

constexpr HostPixel OpaqueBlack{0, 0, 0, 65535};
constexpr HostPixel OpaqueWhite{65535, 65535, 65535, 65535};

// Blur on, the identity curve and a given maximum: sigma = t * maximum / 10.
void BlurOn(RenderFixture& f, double maximum, int32_t quality = 3) {
    f.Op->BlurEnabled = 1;
    f.Op->Frame.Look.BlurLut = f.Hold(new LookUpTable());
    f.Op->Frame.Look.MaximumBlur = maximum;
    f.Op->Frame.Look.BlurQuality = quality;
}

std::vector<uint16_t> Pixels(const Image* img) {
    return std::vector<uint16_t>(img->Data(), img->Data() + std::size_t(img->Width) * img->Height * 4);
}

// Columns of row y that differ from bg.
std::pair<int32_t, int32_t> ChangedSpan(const RenderFixture& f, int32_t y, const HostPixel& bg) {
    int32_t first = -1, last = -1;
    for (int32_t x = 0; x < f.Op->OutputImage->Width; ++x) {
        const HostPixel p = f.At(x, y);
        if (p.R == bg.R && p.G == bg.G && p.B == bg.B && p.A == bg.A) continue;
        if (first < 0) first = x;
        last = x;
    }
    return {first, last};
}

}  // namespace

// One opaque pixel blurred at sigma 4: the spread has the asked deviation at
// every quality and follows the Gaussian the closer the more passes (one pass
// is a plain box).
TEST(BlurFilter, OnePixelSpreadsAsTheGaussianItApproximates) {
    const double sigma = 4.0;
    const double tolerance[7] = {0.5, 0.12, 0.12, 0.08, 0.07, 0.06, 0.05};
    const uint16_t one[4] = {65535, 65535, 65535, 65535};
    for (int32_t q = 1; q <= 7; ++q) {
        const BlurAxis a = MakeBlurAxis(sigma, q);
        ASSERT_EQ(a.Passes, q);
        const std::vector<uint16_t> out = BlurPicture(one, 1, 1, a, a);
        const int32_t n = 1 + 2 * a.Reach;
        ASSERT_EQ(out.size(), std::size_t(n) * n * 4);
        double sum = 0.0, second = 0.0, worst = 0.0;
        const double peak = 1.0 / (2.0 * M_PI * sigma * sigma);
        for (int32_t y = 0; y < n; ++y)
            for (int32_t x = 0; x < n; ++x) {
                const uint16_t* p = out.data() + (std::size_t(y) * n + x) * 4;
                const double A = p[3], dx = x - a.Reach, dy = y - a.Reach;
                // Colour divides back to white wherever anything arrived.
                if (A > 0) {
                    EXPECT_EQ(p[0], 65535) << q;
                }
                EXPECT_EQ(A, out[(std::size_t(y) * n + std::size_t(n - 1 - x)) * 4 + 3]);  // mirror-symmetric
                sum += A;
                second += A * dx * dx;
                const double g = peak * std::exp(-(dx * dx + dy * dy) / (2.0 * sigma * sigma));
                worst = std::max(worst, std::fabs(A / 65535.0 - g) / peak);
            }
        EXPECT_NEAR(sum, 65535.0, 0.002 * 65535.0) << q;
        EXPECT_NEAR(std::sqrt(second / sum), sigma, 0.005 * sigma) << q;
        EXPECT_LT(worst, tolerance[q - 1]) << q;
    }
}

// A random picture: the sums of alpha and of alpha-weighted colour stay what
// they were, within the rounding of each pass.
TEST(BlurFilter, SumsOfColourAndAlphaArePreserved) {
    std::mt19937 rng(7);
    const int32_t w = 13, h = 9;
    std::vector<uint16_t> px(std::size_t(w) * h * 4);
    for (auto& v : px) v = uint16_t(rng());
    for (const auto& [sx, sy, q] : {std::tuple{2.3, 2.3, 3}, std::tuple{0.7, 5.0, 1}, std::tuple{6.0, 1.5, 7}}) {
        const BlurAxis x = MakeBlurAxis(sx, q), y = MakeBlurAxis(sy, q);
        const std::vector<uint16_t> out = BlurPicture(px.data(), w, h, x, y);
        auto sums = [](const std::vector<uint16_t>& p) {
            std::vector<double> s(4, 0.0);
            for (std::size_t i = 0; i < p.size(); i += 4) {
                for (int ch = 0; ch < 3; ++ch) s[ch] += double(p[i + ch]) * p[i + 3] / 65535.0;
                s[3] += p[i + 3];
            }
            return s;
        };
        const std::vector<double> before = sums(px), after = sums(out);
        // Half a unit per pixel and pass, and per pixel for the division back.
        const double bound = 0.5 * double(out.size() / 4) * (x.Passes + y.Passes + 1);
        for (int ch = 0; ch < 4; ++ch) EXPECT_NEAR(after[ch], before[ch], bound) << sx << " " << ch;
        // The blur did spread: a picture as large as the grown one.
        EXPECT_EQ(out.size(), std::size_t(w + 2 * x.Reach) * (h + 2 * y.Reach) * 4);
    }
}

// A white particle whose transparent pixels hold black, blurred over white:
// nothing darkens (the blur weighs colour by alpha).
TEST(CompositeBlur, TransparentBlackBringsNoDarkFringe) {
    RenderFixture f;
    f.Output(40, 40, OpaqueWhite);
    Image* shape = RenderFixture::Solid(12, 12, HostPixel{0, 0, 0, 0});
    for (int32_t y = 4; y < 8; ++y)
        for (int32_t x = 4; x < 8; ++x) shape->SetPixel(x, y, OpaqueWhite);
    BlurOn(f, 30.0);
    f.CompositeOne(14, 14, 12, 12, shape, 1.0, 100.0);  // end of life: sigma 3
    int32_t lowest = 65535;
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x) {
            const HostPixel p = f.At(x, y);
            lowest = std::min<int32_t>({lowest, int32_t(p.R), int32_t(p.G), int32_t(p.B)});
        }
    EXPECT_GE(lowest, 65533);
    // Cut by the left and bottom edges: the banded pass, the plain reference
    // and a chunk drawn by itself give one picture.
    f.Output(40, 40, OpaqueBlack);
    f.Put(0, -5, 31, 12, 12, shape->CopyOfImage(), 1.0, 100.0);
    f.Composite();
    const std::vector<uint16_t> banded = Pixels(f.Op->OutputImage);
    EXPECT_GT(f.Changed(OpaqueBlack), 0);
    f.Output(40, 40, OpaqueBlack);
    f.CompositeReference();
    EXPECT_EQ(Pixels(f.Op->OutputImage), banded);
    f.Output(40, 40, OpaqueBlack);
    Request req(f.Op, 0.0, 0);
    f.Op->ProcessChunk(&req, 0);
    EXPECT_EQ(Pixels(f.Op->OutputImage), banded);
}

// The same particle at birth and at the end of its life: sharp (the picture of
// blur off, as is any sigma below half a pixel) and then softened, spread by
// the blur's reach on every side; a host drawing the chunk by itself gets the
// same picture.
TEST(CompositeBlur, SharpAtBirthSoftAtTheEndOffIsUnchanged) {
    auto draw = [](bool blur, double maximum, double age, int32_t quality = 3) {
        RenderFixture f;
        f.Output(48, 40, OpaqueBlack);
        f.Op->Frame.Look.HighQuality = 1;
        if (blur) BlurOn(f, maximum, quality);
        f.CompositeOne(16, 12, 16, 16, RenderFixture::Solid(16, 16, OpaqueWhite), 1.0, age);
        const std::vector<uint16_t> banded = Pixels(f.Op->OutputImage);
        const auto span = ChangedSpan(f, 20, OpaqueBlack);
        f.Output(48, 40, OpaqueBlack);
        Request req(f.Op, 0.0, 0);
        f.Op->ProcessChunk(&req, 0);
        EXPECT_EQ(Pixels(f.Op->OutputImage), banded);
        return std::make_pair(banded, span);
    };
    const auto sharp = draw(false, 0.0, 100.0);
    EXPECT_EQ(draw(true, 50.0, 0.0).first, sharp.first);  // at birth
    EXPECT_EQ(draw(true, 4.0, 100.0).first, sharp.first);  // sigma 0.4
    for (int32_t q : {1, 3, 7}) {
        const auto soft = draw(true, 30.0, 100.0, q);
        const int32_t reach = MakeBlurAxis(3.0, q).Reach;
        EXPECT_NE(soft.first, sharp.first);
        EXPECT_EQ(soft.second.first, sharp.second.first - reach) << q;
        EXPECT_EQ(soft.second.second, sharp.second.second + reach) << q;
    }
}

// A proxy render blurs by the proxy factor: at half size the spread is that of
// half the sigma.
TEST(CompositeBlur, ProxyRendersScaleTheBlur) {
    RenderFixture f;
    f.Output(48, 40, OpaqueBlack);
    f.Op->Frame.ProxyScaleX = f.Op->Frame.ProxyScaleY = 0.5;
    f.Op->Shapes.AdoptProxyCopy(RenderFixture::Solid(8, 8, OpaqueWhite));
    BlurOn(f, 60.0);
    f.CompositeOne(20, 16, 8, 8, RenderFixture::Solid(8, 8, OpaqueWhite), 1.0, 100.0);
    const int32_t reach = MakeBlurAxis(3.0, 3).Reach;
    const auto span = ChangedSpan(f, 20, OpaqueBlack);
    EXPECT_EQ(span.first, 20 - reach);
    EXPECT_EQ(span.second, 27 + reach);
}

// The largest blur over a 4K frame finishes, the pictures kept to the frame
// (one box of 3465 pixels: a faint white square that does not reach the
// corners); a particle whose grown picture passes the size limit draws nothing.
TEST(CompositeBlur, ExtremeBlursStayBounded) {
    RenderFixture f;
    f.Output(3840, 2160, OpaqueBlack);
    BlurOn(f, 10000.0, 1);
    f.CompositeOne(1888, 1048, 64, 64, RenderFixture::Solid(64, 64, OpaqueWhite), 1.0, 100.0);
    const HostPixel mid = f.At(1920, 1080);
    EXPECT_GT(mid.R, 10u);
    EXPECT_LT(mid.R, 40u);
    EXPECT_EQ(mid.G, mid.R);
    EXPECT_EQ(f.At(0, 0).R, 0u);
    f.Output(64, 64, OpaqueBlack);
    BlurOn(f, 10000.0, 7);
    f.CompositeOne(0, 0, 16000, 16000, RenderFixture::Solid(8, 8, OpaqueWhite), 2000.0, 100.0);
    EXPECT_EQ(f.Changed(OpaqueBlack), 0);
}
