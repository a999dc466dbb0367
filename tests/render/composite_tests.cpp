#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "render/pixel_kernels.h"
#include "render_fixture.h"

namespace {

constexpr HostPixel Clear{0, 0, 0, 0};
constexpr HostPixel OpaqueBlack{0, 0, 0, 65535};
constexpr HostPixel OpaqueWhite{65535, 65535, 65535, 65535};

Image* White(int32_t w, int32_t h) { return RenderFixture::Solid(w, h, OpaqueWhite); }

// Random pixels; every other image is clear (alpha 0, colour random) outside
// the ellipse it holds, as particle shapes are.
Image* RandomImage(std::mt19937& rng, int32_t w, int32_t h, double ax = 1.0, double ay = 1.0) {
    Image* img = new Image(w, h, ax, ay);
    const bool round = rng() % 2 == 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double dx = (x + 0.5) / w - 0.5, dy = (y + 0.5) / h - 0.5;
            const bool clear = round && dx * dx + dy * dy > 0.2;
            img->SetPixel(x, y, HostPixel{uint32_t(rng() % 65536), uint32_t(rng() % 65536), uint32_t(rng() % 65536),
                                             clear ? 0u : uint32_t(rng() % 65536)});
        }
    return img;
}

// Pixel routines that store the words as the host does, but are not the host's:
// the compositing must go through them and give the same picture.
void OwnRead(const Image* img, int64_t offset, HostPixel* p) {
    const uint16_t* w = img->Data() + offset / 2;
    *p = HostPixel{w[0], w[1], w[2], w[3]};
}
void OwnWrite(Image* img, int64_t offset, const HostPixel* p) {
    uint16_t* w = img->Data() + offset / 2;
    for (uint32_t c : {p->B, p->G, p->R, p->A}) *w++ = uint16_t(c);
}

}  // namespace

TEST(CompositeOrder, ChunksCountFromTheOldestSlotAndWrapAroundThePool) {
    RenderFixture f;
    f.Output(8, 4, OpaqueBlack);
    f.Put(PoolSize - 1, 0, 0, 4, 4, White(4, 4));
    f.Put(0, 4, 0, 4, 4, White(4, 4));
    f.Live(PoolSize - 1, 2);
    f.Composite();
    EXPECT_EQ(f.At(1, 1).R, 65534u);
    EXPECT_EQ(f.At(6, 1).R, 65534u);
    // Chunk 1 on its own (a host calling the chunks directly) is slot 0.
    f.Output(8, 4, OpaqueBlack);
    Request req(f.Op, 0.0, 0);
    f.Op->ProcessChunk(&req, 1);
    EXPECT_EQ(f.At(1, 1).R, 0u);
    EXPECT_EQ(f.At(6, 1).R, 65534u);
    EXPECT_EQ(f.Changed(OpaqueBlack), 16);
}

TEST(CompositeBlend, IdentityFadeKeepsAlphaOneAtAgeZeroAndDrawsLikeNoFadePastTheEnd) {
    // At age 0, A' = 1: a white background keeps 65534/65536 of itself, 65533.
    // Past the lifetime (t = 1.05) there is no fade rather than a wrapped-around weight.
    const struct {
        double age;
        HostPixel bg;
        uint32_t want;
    } rows[] = {{0.0, OpaqueWhite, 65533u}, {105.0, OpaqueBlack, 65534u}};
    for (const auto& r : rows) {
        RenderFixture f;
        f.Output(4, 4, r.bg);
        f.Op->FadeEnabled = 1;
        f.Op->Frame.Look.MergeLut = f.Hold(new LookUpTable());
        f.CompositeOne(0, 0, 4, 4, White(4, 4), 1.0, r.age);
        EXPECT_EQ(f.At(2, 2).R, r.want) << r.age;
        EXPECT_EQ(f.At(2, 2).A, r.want) << r.age;
    }
}

TEST(CompositeBlend, AdditiveWhiteReachesTheLimitFromBackgroundTwo) {
    RenderFixture f;
    Image* out = f.Output(4, 2, OpaqueBlack);
    for (uint32_t v = 0; v < 3; ++v) out->SetPixel(int32_t(v), 0, HostPixel{v, v, v, v});
    out->SetPixel(3, 0, HostPixel{40000, 3, 40000, 3});
    f.Op->Frame.Look.Merge = 1.0;
    f.CompositeOne(0, 0, 4, 2, White(4, 2));
    const uint32_t want[4] = {65534, 65534, 65535, 65535};
    for (int32_t x = 0; x < 4; ++x) {
        EXPECT_EQ(f.At(x, 0).G, want[x]) << x;
        EXPECT_EQ(f.At(x, 0).A, want[x]) << x;
    }
    EXPECT_EQ(f.At(3, 0).B, 65535u);
}

TEST(CompositeSize, HostImagesStayAtLeastTwoPixelsCapturedShapesMayVanish) {
    RenderFixture f;
    f.Output(8, 8, OpaqueBlack);
    f.CompositeOne(3, 3, 2, 2, White(4, 4), 0.1);
    EXPECT_EQ(f.Changed(OpaqueBlack), 4);
    for (int32_t y = 3; y < 5; ++y)
        for (int32_t x = 3; x < 5; ++x) EXPECT_EQ(f.At(x, y).R, 65534u);
    f.Output(8, 8, OpaqueBlack);
    f.UseLevels({RenderFixture::Level(4, 4, 65535), RenderFixture::Level(4, 4, 65535)});
    f.CompositeOne(3, 3, 2, 2, nullptr, 0.1);
    EXPECT_EQ(f.Changed(OpaqueBlack), 0);
}

TEST(CompositeSize, LifetimeZeroDrawsAtTheEndOfLife) {
    RenderFixture f;
    f.Output(16, 16, OpaqueBlack);
    f.Op->GrowEnabled = 1;
    f.Op->Frame.Look.GrowLut = f.Hold(new LookUpTable());
    f.Op->Frame.Look.MaximumSize = 2.0;
    f.Op->Frame.Lifetime = 0.0;
    f.CompositeOne(4, 4, 8, 8, White(4, 4), 1.0, 3.0);
    EXPECT_EQ(f.Changed(OpaqueBlack), 64);  // t = 1: grown to twice the size
}

TEST(CompositeClip, PicturesStartingLeftOfAndAboveTheImageShowTheirVisiblePart) {
    RenderFixture f;
    f.Output(8, 8, Clear);
    Image* shape = new Image(4, 4);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x) shape->SetPixel(x, y, HostPixel{0, 0, uint32_t(1000 * (y * 4 + x) + 2), 65535});
    f.CompositeOne(-2, -1, 4, 4, shape);
    // Output (0, 0) shows shape pixel (2, 1); with merge 0 and an opaque pixel the
    // background is replaced by value * 65535 >> 16 = value - 1.
    EXPECT_EQ(f.At(0, 0).R, 1000u * 6 + 1);
    EXPECT_EQ(f.At(1, 2).R, 1000u * 15 + 1);
    EXPECT_EQ(f.Changed(Clear), 6);
}

TEST(CompositeLevels, TheLevelIndexStaysWithinTheSet) {
    using L = std::vector<ShapeLevel>;
    const struct {
        L levels;
        double age;
        uint32_t red;
    } rows[] = {
        {{RenderFixture::Level(4, 4, 30000)}, 50.0, 30000},  // one shape is drawn alone
        // Past the lifetime: on the last levels.
        {{RenderFixture::Level(4, 4, 10000), RenderFixture::Level(4, 4, 20000), RenderFixture::Level(4, 4, 40000)},
         150.0, 40000},
        // Levels of different sizes are not mixed.
        {{RenderFixture::Level(4, 4, 10000), RenderFixture::Level(2, 2, 0)}, 50.0, 10000},
    };
    for (const auto& r : rows) {
        RenderFixture f;
        f.Output(4, 4, Clear);
        f.UseLevels(r.levels);
        f.CompositeOne(0, 0, 4, 4, nullptr, 1.0, r.age);
        EXPECT_NEAR(double(f.At(2, 2).R), double(r.red), 3.0) << r.levels.size();
        EXPECT_EQ(f.Changed(Clear), 16) << r.levels.size();
    }
}

TEST(CompositeTint, ColourCurvesMixIntoTheParticle) {
    RenderFixture f;
    f.Output(4, 4, Clear);
    f.Op->TintEnabled = 1;
    f.Op->Frame.Look.RedLut = f.Hold(new LookUpTable(std::vector<uint16_t>(16, 65535)));
    f.Op->Frame.Look.GreenLut = f.Hold(new LookUpTable(std::vector<uint16_t>(16, 0)));
    f.Op->Frame.Look.BlueLut = f.Hold(new LookUpTable());
    f.Op->Frame.Look.MorphLut = f.Hold(new LookUpTable(std::vector<uint16_t>(16, 32768)));
    f.CompositeOne(0, 0, 4, 4, RenderFixture::Solid(4, 4, HostPixel{20000, 20000, 20000, 65535}), 1.0, 50.0);
    const uint32_t kept = (20000u * (65535 - 32768)) >> 16;
    const uint32_t red = kept + ((65535u * 32768u) >> 16), blue = kept + ((uint32_t(0.5 * 65535.0) * 32768u) >> 16);
    EXPECT_EQ(f.At(1, 1).R, (red * 65535u) >> 16);
    EXPECT_EQ(f.At(1, 1).G, (kept * 65535u) >> 16);
    EXPECT_EQ(f.At(1, 1).B, (blue * 65535u) >> 16);
    EXPECT_EQ(f.At(1, 1).A, 65534u);  // the tint leaves alpha alone
}

TEST(CompositeSource, ReducedInputsDrawTheProxyCopyNeverTheParticlesOwnShape) {
    RenderFixture f;
    f.Output(4, 4, Clear);
    f.Op->Frame.ProxyScaleX = f.Op->Frame.ProxyScaleY = 0.5;
    f.Op->Shapes.AdoptProxyCopy(RenderFixture::Solid(4, 4, HostPixel{0, 0, 65535, 65535}));
    f.CompositeOne(0, 0, 4, 4, White(4, 4));
    EXPECT_EQ(f.At(1, 1).R, 65534u);
    EXPECT_EQ(f.At(1, 1).G, 0u);
    // Without a proxy copy (it could not be made) nothing is drawn.
    f.Op->Shapes.AdoptProxyCopy(nullptr);
    f.Output(4, 4, Clear);
    f.Composite();
    EXPECT_EQ(f.Changed(Clear), 0);
}

namespace {

// Many random particles, sizes, angles, curves and merge values from a fixed
// seed: the banded parallel path must give the picture of drawing the particles
// one at a time, oldest first, bit for bit, at 1 and 2 threads and for any
// source-cache, band and blurred-picture split, with every instruction set the
// processor runs, and so must images with their own pixel routines. With blur,
// fewer particles, each blurred by a random curve, maximum and quality. The
// pictures of the first `few` rounds hash to `kept`; LUMETS_COMPOSITE_ROUNDS
// asks for more rounds (the CTest label `long` runs thousands). With motion,
// every particle is also drawn over a random shutter from a random earlier
// state, and the hash is not kept.
void CheckBandedAgainstReference(uint32_t seed, int few, bool blur, uint64_t kept, bool motion = false) {
    const char* more = std::getenv("LUMETS_COMPOSITE_ROUNDS");
    const int rounds = std::max(few, more ? std::atoi(more) : 0);
    std::mt19937 rng(seed);
    auto uni = [&](double lo, double hi) { return lo + (hi - lo) * (double(rng()) / 4294967296.0); };
    auto randomLut = [&](RenderFixture& f) -> LookUpTable* {
        if (rng() % 3 == 0) return f.Hold(new LookUpTable());
        std::vector<uint16_t> t(1 + rng() % 300);
        for (auto& v : t) v = uint16_t(rng());
        return f.Hold(new LookUpTable(std::move(t)));
    };
    auto randomImage = [&](int32_t maxSide) {
        const int32_t w = 1 + int32_t(rng() % maxSide), h = 1 + int32_t(rng() % maxSide);
        const double ax = uni(0.5, 2.0);
        return RandomImage(rng, w, h, ax, uni(0.5, 2.0));
    };
    uint64_t hash = 1469598103934665603ull;
    int drawn = 0;
    for (int round = 0; round < rounds; ++round) {
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
        };
        f.Op->Frame.AspectX = double(w) / h;
        f.Op->Frame.Look.Merge = rng() % 4 == 0 ? 1.0 : uni(0.0, 1.0);
        f.Op->Frame.Look.HighQuality = int32_t(rng() % 2);
        f.Op->FadeEnabled = int32_t(rng() % 2);
        f.Op->GrowEnabled = int32_t(rng() % 2);
        f.Op->TintEnabled = int32_t(rng() % 2);
        f.Op->Frame.Look.MaximumSize = uni(0.5, 3.0);
        f.Op->Frame.Lifetime = uni(5.0, 50.0);
        for (LookUpTable** lut : {&f.Op->Frame.Look.MergeLut, &f.Op->Frame.Look.GrowLut, &f.Op->Frame.Look.RedLut, &f.Op->Frame.Look.GreenLut, &f.Op->Frame.Look.BlueLut,
                                  &f.Op->Frame.Look.MorphLut})
            *lut = randomLut(f);
        if (blur) {
            f.Op->BlurEnabled = 1;
            f.Op->Frame.Look.BlurLut = randomLut(f);
            f.Op->Frame.Look.MaximumBlur = uni(0.0, 60.0);
            f.Op->Frame.Look.BlurQuality = int32_t(rng() % 8);  // 0 counts as 1
        }
        const int kind = round % 3;  // own images, one shared image, captured levels
        f.Op->Frame.Birth.ApplyBirthImage = kind == 1 ? 1 : 0;
        if (kind == 1) f.Op->Shapes.AdoptCopy(randomImage(24));
        if (kind == 2) {
            std::vector<ShapeLevel> levels(1 + rng() % 5);
            for (auto& l : levels) {
                l.Width = 1 + int32_t(rng() % 3) * 8;
                l.Height = 1 + int32_t(rng() % 3) * 8;
                l.ScaleX = float(uni(0.5, 2.0));
                l.ScaleY = float(uni(0.5, 2.0));
                l.Pixels.resize(std::size_t(l.Width) * l.Height * 4);
                for (auto& v : l.Pixels) v = uint16_t(rng());
                for (std::size_t i = 3; i < l.Pixels.size() / 2; i += 4) l.Pixels[i] = 0;  // clear top half
            }
            f.UseLevels(levels);
        }
        freshOutput();
        const int32_t count = blur ? 15 + int32_t(rng() % 30) : 150 + int32_t(rng() % 250);
        const int32_t oldest = int32_t(rng() % PoolSize);
        for (int32_t i = 0; i < count; ++i) {
            Particle& p = f.Op->Pool.Particles[(oldest + i) % PoolSize];
            if (p.ShapeImage) p.ShapeImage->Recycle();
            p = Particle{};
            p.Position = Vec2d(uni(-0.2, 1.2) * f.Op->Frame.AspectX, uni(-0.2, 1.2));
            p.Angle = uni(-720.0, 720.0);
            p.Size = uni(0.05, 3.0);
            p.Age = uni(0.0, f.Op->Frame.Lifetime * 1.1);
            if (kind == 0) p.ShapeImage = randomImage(20);
        }
        f.Live(oldest, count);
        if (motion) {
            FrameSettings::Motions& m = f.Op->Frame.Motion;
            m.Blur = 1;
            m.Samples = 2 + int32_t(rng() % 9);
            m.ShutterAngle = uni(0.0, 720.0);
            m.ShutterOffset = int32_t(rng() % 3);
            f.Op->Pool.Before.resize(PoolSize);
            for (int32_t i = 0; i < count; ++i) {
                const Particle& p = f.Op->Pool.Particles[(oldest + i) % PoolSize];
                f.Op->Pool.Before[std::size_t((oldest + i) % PoolSize)] =
                    ParticleBefore{p.Position + Vec2d(uni(-0.3, 0.3), uni(-0.3, 0.3)), p.Angle + uni(-90.0, 90.0),
                                   p.Age - uni(0.0, 4.0), p.Size * uni(0.7, 1.3)};
            }
        }

        f.CompositeReference();
        const std::vector<uint16_t> want(f.Op->OutputImage->Data(), f.Op->OutputImage->Data() + background.size());
        // A round may draw nothing visible (every particle off the picture or faded
        // out by its curves); most must draw something for the comparison to mean much.
        drawn += want != background ? 1 : 0;
        const std::pair<int, CompositeOptions> variants[] = {
            {1, {}},
            {2, {}},
            {2, {std::size_t(20000), 7}},
            {2, {std::size_t(1), 1, 0}},
            {1, {std::size_t(4096), 3, std::size_t(40000)}}};
        for (PixelIsa isa : {PixelIsa::Generic, PixelIsa::Avx2, PixelIsa::Avx512}) {
            if (!ForcePixelIsa(isa)) continue;
            for (const auto& [threads, options] : variants) {
                SetWorkerThreads(threads);
                freshOutput();
                f.CompositeWith(options);
                EXPECT_TRUE(std::equal(want.begin(), want.end(), f.Op->OutputImage->Data()))
                    << "round " << round << ", " << PixelIsaName(isa) << ", " << threads << " threads, cache "
                    << options.SourceCacheBytes << ", band " << options.BandRows;
            }
        }
        ClearForcedPixelIsa();
        SetWorkerThreads(2);
        freshOutput();
        for (int32_t i = 0; i < count; ++i)
            if (Image* shape = f.Op->Pool.Particles[(oldest + i) % PoolSize].ShapeImage) shape->ReadPixelFn = OwnRead;
        if (f.Op->Shapes.Copy()) f.Op->Shapes.Copy()->ReadPixelFn = OwnRead;
        f.Op->OutputImage->ReadPixelFn = OwnRead;
        f.Op->OutputImage->WritePixelFunc = OwnWrite;
        f.Composite();
        EXPECT_TRUE(std::equal(want.begin(), want.end(), f.Op->OutputImage->Data())) << "own routines, round " << round;
        SetWorkerThreads(0);
        for (uint16_t x : want) hash = (hash ^ x) * 1099511628211ull;
        if (round == few - 1 && !motion) {
            EXPECT_EQ(hash, kept) << "the pictures of the first " << few << " rounds changed";
        }
        if (kind == 1) {
            f.Op->Shapes.AdoptCopy(nullptr);
        }
    }
    EXPECT_GE(drawn * 10, rounds * 9) << drawn << " of " << rounds << " rounds drew something";
}

}  // namespace

TEST(CompositeRandomized, BandedPathEqualsOneAtATimeAtAnyThreadCount) {
    CheckBandedAgainstReference(20240611, 3, false, 16709542587910304076ull);
}

TEST(CompositeRandomized, BlurredParticlesToo) {
    CheckBandedAgainstReference(20261206, 3, true, 11781215943508450531ull);
}

TEST(CompositeRandomized, MotionBlurredParticlesToo) {
    CheckBandedAgainstReference(20261207, 4, false, 0, true);
    CheckBandedAgainstReference(20261208, 2, true, 0, true);
}
