#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "render/composite.h"
#include "render_fixture.h"

namespace {

constexpr HostPixel OpaqueBlack{0, 0, 0, 65535};
constexpr HostPixel OpaqueWhite{65535, 65535, 65535, 65535};

int CountChanged(const Image* img, const HostPixel& bg) {
    int n = 0;
    for (int32_t y = 0; y < img->Height; ++y)
        for (int32_t x = 0; x < img->Width; ++x) {
            const HostPixel p = img->GetPixel(x, y);
            if (p.B != bg.B || p.G != bg.G || p.R != bg.R || p.A != bg.A) ++n;
        }
    return n;
}

void Composite(RenderFixture& f) {
    Request req(f.Op, 0.0, 0);
    f.Op->CompositeParticles(&req);
}

}  // namespace

TEST(CompositeOrder, ChunksCountFromTheOldestSlotAndWrapAroundThePool) {
    RenderFixture f;
    f.Output(8, 4, OpaqueBlack);
    f.Put(PoolSize - 1, 0, 0, 4, 4, RenderFixture::Solid(4, 4, OpaqueWhite));
    f.Put(0, 4, 0, 4, 4, RenderFixture::Solid(4, 4, OpaqueWhite));
    f.Live(PoolSize - 1, 2);
    Composite(f);
    EXPECT_EQ(f.Op->OutputImage->GetPixel(1, 1).R, 65534u);
    EXPECT_EQ(f.Op->OutputImage->GetPixel(6, 1).R, 65534u);

    // Chunk 1 on its own (a host calling the chunks directly) is slot 0.
    f.Output(8, 4, OpaqueBlack);
    Request req(f.Op, 0.0, 0);
    f.Op->ProcessChunk(&req, 1);
    EXPECT_EQ(f.Op->OutputImage->GetPixel(1, 1).R, 0u);
    EXPECT_EQ(f.Op->OutputImage->GetPixel(6, 1).R, 65534u);
    EXPECT_EQ(CountChanged(f.Op->OutputImage, OpaqueBlack), 16);
}

TEST(CompositeBlend, IdentityFadeAtAgeZeroLeavesAlphaOne) {
    RenderFixture f;
    f.Output(4, 4, OpaqueWhite);
    f.Op->FadeEnabled = 1;
    f.Op->MergeLut = f.Hold(new LookUpTable());
    f.Put(0, 0, 0, 4, 4, RenderFixture::Solid(4, 4, OpaqueWhite), 1.0, 0.0);
    f.Live(0, 1);
    Composite(f);
    // A' = 1, so the background keeps 65534/65536 of itself: 65533, not 65534.
    const HostPixel p = f.Op->OutputImage->GetPixel(2, 2);
    EXPECT_EQ(p.R, 65533u);
    EXPECT_EQ(p.A, 65533u);
}

TEST(CompositeBlend, FadePastTheEndOfLifeDrawsLikeNoFade) {
    // Age above the lifetime (t = 1.05): the identity fade gives no fade rather
    // than a wrapped-around weight.
    RenderFixture f;
    f.Output(4, 4, OpaqueBlack);
    f.Op->FadeEnabled = 1;
    f.Op->MergeLut = f.Hold(new LookUpTable());
    f.Put(0, 0, 0, 4, 4, RenderFixture::Solid(4, 4, OpaqueWhite), 1.0, 105.0);
    f.Live(0, 1);
    Composite(f);
    EXPECT_EQ(f.Op->OutputImage->GetPixel(1, 1).R, 65534u);
    EXPECT_EQ(f.Op->OutputImage->GetPixel(1, 1).A, 65534u);
}

TEST(CompositeBlend, AdditiveWhiteReachesTheLimitFromBackgroundTwo) {
    RenderFixture f;
    Image* out = f.Output(4, 2, OpaqueBlack);
    for (uint32_t v = 0; v < 4; ++v) out->SetPixel(int32_t(v), 0, HostPixel{v, v, v, v});
    out->SetPixel(3, 0, HostPixel{40000, 3, 40000, 3});
    f.Op->Merge = 1.0;
    f.Put(0, 0, 0, 4, 2, RenderFixture::Solid(4, 2, OpaqueWhite));
    f.Live(0, 1);
    Composite(f);
    const uint32_t want[4] = {65534, 65534, 65535, 65535};
    for (int32_t x = 0; x < 4; ++x) {
        const HostPixel p = out->GetPixel(x, 0);
        EXPECT_EQ(p.G, want[x]) << x;
        EXPECT_EQ(p.A, want[x]) << x;
    }
    EXPECT_EQ(out->GetPixel(3, 0).B, 65535u);
}

TEST(CompositeSize, HostImageParticlesAreAtLeastTwoPixels) {
    RenderFixture f;
    f.Output(8, 8, OpaqueBlack);
    Particle& p = f.Put(0, 3, 3, 2, 2, RenderFixture::Solid(4, 4, OpaqueWhite), 0.1);
    f.Live(0, 1);
    Composite(f);
    EXPECT_EQ(CountChanged(f.Op->OutputImage, OpaqueBlack), 4);
    for (int32_t y = 3; y < 5; ++y)
        for (int32_t x = 3; x < 5; ++x) EXPECT_EQ(f.Op->OutputImage->GetPixel(x, y).R, 65534u);
    (void)p;
}

TEST(CompositeSize, CapturedShapesMayShrinkToNothing) {
    RenderFixture f;
    f.Output(8, 8, OpaqueBlack);
    ShapeLevel level;
    level.Width = level.Height = 4;
    level.Pixels.assign(4 * 4 * 4, 65535);
    f.Op->PreloadedShapes.Levels = {level, level};
    f.Op->PreloadedPresent = 1;
    f.Put(0, 3, 3, 2, 2, nullptr, 0.1);
    f.Live(0, 1);
    Composite(f);
    EXPECT_EQ(CountChanged(f.Op->OutputImage, OpaqueBlack), 0);
}

TEST(CompositeSize, LifetimeZeroDrawsAtTheEndOfLife) {
    RenderFixture f;
    f.Output(16, 16, OpaqueBlack);
    f.Op->GrowEnabled = 1;
    f.Op->GrowLut = f.Hold(new LookUpTable());
    f.Op->MaximumSize = 2.0;
    f.Op->Lifetime = 0.0;
    f.Put(0, 4, 4, 8, 8, RenderFixture::Solid(4, 4, OpaqueWhite), 1.0, 3.0);
    f.Live(0, 1);
    Composite(f);
    // t = 1: grown to twice the size.
    EXPECT_EQ(CountChanged(f.Op->OutputImage, OpaqueBlack), 64);
}

TEST(CompositeClip, PicturesStartingLeftOfAndAboveTheImageShowTheirVisiblePart) {
    RenderFixture f;
    Image* out = f.Output(8, 8, HostPixel{0, 0, 0, 0});
    Image* shape = new Image(4, 4);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x) shape->SetPixel(x, y, HostPixel{0, 0, uint32_t(1000 * (y * 4 + x) + 2), 65535});
    f.Put(0, -2, -1, 4, 4, shape);
    f.Live(0, 1);
    Composite(f);
    // Output (0, 0) shows shape pixel (2, 1); with merge 0 and an opaque pixel the
    // background is replaced by value * 65535 >> 16 = value - 1.
    EXPECT_EQ(out->GetPixel(0, 0).R, 1000u * 6 + 1);
    EXPECT_EQ(out->GetPixel(1, 2).R, 1000u * 15 + 1);
    EXPECT_EQ(CountChanged(out, HostPixel{0, 0, 0, 0}), 6);
}

TEST(CompositeLevels, OneCapturedShapeIsDrawnAlone) {
    RenderFixture f;
    Image* out = f.Output(4, 4, HostPixel{0, 0, 0, 0});
    ShapeLevel level;
    level.Width = level.Height = 4;
    level.Pixels.assign(4 * 4 * 4, 65535);
    for (int i = 0; i < 16; ++i) level.Pixels[std::size_t(i) * 4] = 30000;
    f.Op->PreloadedShapes.Levels = {level};
    f.Op->PreloadedPresent = 1;
    f.Put(0, 0, 0, 4, 4, nullptr, 1.0, 50.0);
    f.Live(0, 1);
    Composite(f);
    EXPECT_NEAR(double(out->GetPixel(1, 1).R), 30000.0, 3.0);
    EXPECT_EQ(CountChanged(out, HostPixel{0, 0, 0, 0}), 16);
}

TEST(CompositeLevels, AgePastTheLifetimeStaysOnTheLastLevels) {
    RenderFixture f;
    Image* out = f.Output(4, 4, HostPixel{0, 0, 0, 0});
    std::vector<ShapeLevel> levels(3);
    const uint16_t reds[3] = {10000, 20000, 40000};
    for (int k = 0; k < 3; ++k) {
        levels[k].Width = levels[k].Height = 4;
        levels[k].Pixels.assign(4 * 4 * 4, 65535);
        for (int i = 0; i < 16; ++i) levels[k].Pixels[std::size_t(i) * 4] = reds[k];
    }
    f.Op->PreloadedShapes.Levels = levels;
    f.Op->PreloadedPresent = 1;
    f.Put(0, 0, 0, 4, 4, nullptr, 1.0, 150.0);
    f.Live(0, 1);
    Composite(f);
    EXPECT_NEAR(double(out->GetPixel(2, 2).R), 40000.0, 3.0);
}

TEST(CompositeLevels, LevelsOfDifferentSizesAreNotMixed) {
    RenderFixture f;
    Image* out = f.Output(4, 4, HostPixel{0, 0, 0, 0});
    std::vector<ShapeLevel> levels(2);
    levels[0].Width = levels[0].Height = 4;
    levels[0].Pixels.assign(4 * 4 * 4, 65535);
    for (int i = 0; i < 16; ++i) levels[0].Pixels[std::size_t(i) * 4] = 10000;
    levels[1].Width = levels[1].Height = 2;
    levels[1].Pixels.assign(2 * 2 * 4, 0);
    f.Op->PreloadedShapes.Levels = levels;
    f.Op->PreloadedPresent = 1;
    f.Put(0, 0, 0, 4, 4, nullptr, 1.0, 50.0);
    f.Live(0, 1);
    Composite(f);
    EXPECT_EQ(out->GetPixel(3, 3).R, 9999u);
}

TEST(CompositeTint, ColourCurvesMixIntoTheParticle) {
    RenderFixture f;
    Image* out = f.Output(4, 4, HostPixel{0, 0, 0, 0});
    f.Op->TintEnabled = 1;
    f.Op->RedLut = f.Hold(new LookUpTable(std::vector<uint16_t>(16, 65535)));
    f.Op->GreenLut = f.Hold(new LookUpTable(std::vector<uint16_t>(16, 0)));
    f.Op->BlueLut = f.Hold(new LookUpTable());
    f.Op->MorphLut = f.Hold(new LookUpTable(std::vector<uint16_t>(16, 32768)));
    f.Put(0, 0, 0, 4, 4, RenderFixture::Solid(4, 4, HostPixel{20000, 20000, 20000, 65535}), 1.0, 50.0);
    f.Live(0, 1);
    Composite(f);
    const uint32_t keep = 65535 - 32768;
    const uint32_t red = ((20000u * keep) >> 16) + ((65535u * 32768u) >> 16);
    const uint32_t green = (20000u * keep) >> 16;
    const uint32_t blue = ((20000u * keep) >> 16) + ((uint32_t(0.5 * 65535.0) * 32768u) >> 16);
    const HostPixel p = out->GetPixel(1, 1);
    EXPECT_EQ(p.R, (red * 65535u) >> 16);
    EXPECT_EQ(p.G, (green * 65535u) >> 16);
    EXPECT_EQ(p.B, (blue * 65535u) >> 16);
}

// Many random particles, sizes, angles, curves and merge values from a fixed
// seed: the banded parallel path must give the picture of drawing the particles
// one at a time, oldest first, bit for bit, at 1 and 2 threads and for any
// batch and band split.
TEST(CompositeRandomized, BandedPathEqualsOneAtATimeAtAnyThreadCount) {
    std::mt19937 rng(20240611);
    auto uni = [&](double lo, double hi) { return lo + (hi - lo) * (double(rng()) / 4294967296.0); };
    auto randomLut = [&](RenderFixture& f) -> LookUpTable* {
        if (rng() % 3 == 0) return f.Hold(new LookUpTable());
        std::vector<uint16_t> t(1 + rng() % 300);
        for (auto& v : t) v = uint16_t(rng());
        return f.Hold(new LookUpTable(std::move(t)));
    };
    auto randomImage = [&](int32_t maxSide) {
        Image* img = new Image(1 + int32_t(rng() % maxSide), 1 + int32_t(rng() % maxSide), uni(0.5, 2.0),
                               uni(0.5, 2.0));
        for (int32_t y = 0; y < img->Height; ++y)
            for (int32_t x = 0; x < img->Width; ++x)
                img->SetPixel(x, y, HostPixel{uint32_t(rng() % 65536), uint32_t(rng() % 65536), uint32_t(rng() % 65536), uint32_t(rng() % 65536)});
        return img;
    };
    uint64_t hash = 1469598103934665603ull;
    for (int round = 0; round < 9; ++round) {
        RenderFixture f;
        const int32_t w = 90 + int32_t(rng() % 80), h = 60 + int32_t(rng() % 70);
        const double outAx = uni(0.8, 1.2), outAy = uni(0.8, 1.2);
        std::vector<uint16_t> background(std::size_t(w) * h * 4);
        for (auto& v : background) v = uint16_t(rng());
        auto freshOutput = [&] {
            Image* out = f.Output(w, h, HostPixel{});
            out->AspectX = outAx;
            out->AspectY = outAy;
            std::copy(background.begin(), background.end(), out->Data());
            return out;
        };
        f.Op->AspectX = double(w) / h;
        f.Op->Merge = rng() % 4 == 0 ? 1.0 : uni(0.0, 1.0);
        f.Op->HighQuality = int32_t(rng() % 2);
        f.Op->FadeEnabled = int32_t(rng() % 2);
        f.Op->GrowEnabled = int32_t(rng() % 2);
        f.Op->TintEnabled = int32_t(rng() % 2);
        f.Op->MaximumSize = uni(0.5, 3.0);
        f.Op->Lifetime = uni(5.0, 50.0);
        f.Op->MergeLut = randomLut(f);
        f.Op->GrowLut = randomLut(f);
        f.Op->RedLut = randomLut(f);
        f.Op->GreenLut = randomLut(f);
        f.Op->BlueLut = randomLut(f);
        f.Op->MorphLut = randomLut(f);
        const int kind = round % 3;  // own images, one shared image, captured levels
        f.Op->ApplyBirthImage = kind == 1 ? 1 : 0;
        if (kind == 1) f.Op->ShapeCopy = randomImage(24);
        if (kind == 2) {
            std::vector<ShapeLevel> levels(1 + rng() % 5);
            for (auto& l : levels) {
                l.Width = 1 + int32_t(rng() % 3) * 8;
                l.Height = 1 + int32_t(rng() % 3) * 8;
                l.ScaleX = float(uni(0.5, 2.0));
                l.ScaleY = float(uni(0.5, 2.0));
                l.Pixels.resize(std::size_t(l.Width) * l.Height * 4);
                for (auto& v : l.Pixels) v = uint16_t(rng());
            }
            f.Op->PreloadedShapes.Levels = levels;
            f.Op->PreloadedPresent = 1;
        }
        freshOutput();
        const int32_t count = 150 + int32_t(rng() % 250);
        const int32_t oldest = int32_t(rng() % PoolSize);
        for (int32_t i = 0; i < count; ++i) {
            Particle& p = f.Op->Particles[(oldest + i) % PoolSize];
            if (p.ShapeImage) p.ShapeImage->Recycle();
            p = Particle{};
            p.Position = Vec2d(uni(-0.2, 1.2) * f.Op->AspectX, uni(-0.2, 1.2));
            p.Angle = uni(-720.0, 720.0);
            p.Size = uni(0.05, 3.0);
            p.Age = uni(0.0, f.Op->Lifetime * 1.1);
            if (kind == 0) p.ShapeImage = randomImage(20);
        }
        f.Live(oldest, count);

        CompositeParticlesReference(*f.Op);
        const std::vector<uint16_t> want(f.Op->OutputImage->Data(), f.Op->OutputImage->Data() + background.size());
        ASSERT_NE(want, background);

        struct Variant {
            int Threads;
            CompositeOptions Options;
        };
        const Variant variants[] = {
            {1, {}}, {2, {}}, {2, {std::size_t(20000), 7}}, {2, {std::size_t(1), 1}}, {1, {std::size_t(4096), 3}}};
        for (const Variant& v : variants) {
            SetWorkerThreads(v.Threads);
            freshOutput();
            Request req(f.Op, 0.0, 0);
            CompositeParticlesBanded(*f.Op, &req, v.Options);
            const std::vector<uint16_t> got(f.Op->OutputImage->Data(),
                                            f.Op->OutputImage->Data() + background.size());
            EXPECT_TRUE(got == want) << "round " << round << ", " << v.Threads << " threads, batch "
                                     << v.Options.BatchBytes << ", band " << v.Options.BandRows;
        }
        SetWorkerThreads(0);
        for (uint16_t x : want) hash = (hash ^ x) * 1099511628211ull;
        if (kind == 1) {
            f.Op->ShapeCopy->Recycle();
            f.Op->ShapeCopy = nullptr;
        }
    }
    RecordProperty("hash", std::to_string(hash));
}

TEST(CompositeSource, ReducedInputsDrawTheProxyCopyNeverTheParticlesOwnShape) {
    RenderFixture f;
    Image* out = f.Output(4, 4, HostPixel{0, 0, 0, 0});
    f.Op->ProxyScaleX = f.Op->ProxyScaleY = 0.5;
    f.Op->ProxyShapeCopy = RenderFixture::Solid(4, 4, HostPixel{0, 0, 65535, 65535});
    f.Put(0, 0, 0, 4, 4, RenderFixture::Solid(4, 4, OpaqueWhite));
    f.Live(0, 1);
    Composite(f);
    EXPECT_EQ(out->GetPixel(1, 1).R, 65534u);
    EXPECT_EQ(out->GetPixel(1, 1).G, 0u);

    // Without a proxy copy (it could not be made) nothing is drawn.
    f.Op->ProxyShapeCopy->Recycle();
    f.Op->ProxyShapeCopy = nullptr;
    out = f.Output(4, 4, HostPixel{0, 0, 0, 0});
    Composite(f);
    EXPECT_EQ(CountChanged(out, HostPixel{0, 0, 0, 0}), 0);
}

TEST(CompositeRandomized, ImagesWithTheirOwnPixelRoutinesGiveTheSamePicture) {
    // Routines that store the words as the host does, but are not the host's:
    // the compositing must go through them (and give the same picture).
    auto read = [](const Image* img, int64_t offset, HostPixel* p) {
        const uint16_t* w = img->Data() + offset / 2;
        *p = HostPixel{w[0], w[1], w[2], w[3]};
    };
    auto write = [](Image* img, int64_t offset, const HostPixel* p) {
        uint16_t* w = img->Data() + offset / 2;
        w[0] = uint16_t(p->B);
        w[1] = uint16_t(p->G);
        w[2] = uint16_t(p->R);
        w[3] = uint16_t(p->A);
    };
    std::mt19937 rng(99);
    std::vector<uint16_t> results[2];
    for (int pass = 0; pass < 2; ++pass) {
        RenderFixture f;
        Image* out = f.Output(50, 40, HostPixel{1000, 2000, 3000, 65535});
        if (pass == 1) {
            out->ReadPixelFn = read;
            out->WritePixelFunc = write;
        }
        f.Op->HighQuality = 1;
        f.Op->Merge = 0.3;
        rng.seed(99);
        for (int32_t i = 0; i < 60; ++i) {
            Image* shape = new Image(3 + int32_t(rng() % 9), 3 + int32_t(rng() % 9));
            for (int32_t y = 0; y < shape->Height; ++y)
                for (int32_t x = 0; x < shape->Width; ++x)
                    shape->SetPixel(x, y, HostPixel{uint32_t(rng() % 65536), uint32_t(rng() % 65536),
                                                    uint32_t(rng() % 65536), uint32_t(rng() % 65536)});
            if (pass == 1) shape->ReadPixelFn = read;
            Particle& p = f.Put(i, double(rng() % 60) - 5.0, double(rng() % 50) - 5.0, 4, 4, shape);
            p.Angle = double(rng() % 360);
            p.Size = 0.5 + double(rng() % 100) / 40.0;
        }
        f.Live(0, 60);
        SetWorkerThreads(2);
        Composite(f);
        SetWorkerThreads(0);
        results[pass].assign(out->Data(), out->Data() + 50 * 40 * 4);
    }
    EXPECT_TRUE(results[0] == results[1]);
}
