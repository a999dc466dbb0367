#pragma once
// A tool whose frame state the render tests set directly: an output image,
// particles in chosen slots, frame settings. Positions are given in output
// pixels through AspectX = AspectY = 1.
#include <cstdint>
#include <utility>
#include <vector>

#include "common/tool_harness.h"
#include "host/image.h"
#include "host/operator.h"
#include "operator/particle_operator.h"
#include "render/compositor.h"
#include "render/reference_render.h"

class RenderFixture {
public:
    RenderFixture() {
        Op = H.Op;
        Op->Frame.AspectX = Op->Frame.AspectY = 1.0;
        Op->Frame.Lifetime = 100.0;
        Op->Frame.Look.Merge = 0.0;
        Op->Frame.Look.HighQuality = Op->Frame.Birth.ApplyBirthImage = Op->FadeEnabled = Op->GrowEnabled = Op->TintEnabled = 0;
    }
    ~RenderFixture() {
        if (Op->OutputImage) Op->OutputImage->Recycle();
        Op->OutputImage = nullptr;
        for (Parameter* p : Held) p->Recycle();
    }
    RenderFixture(const RenderFixture&) = delete;
    RenderFixture& operator=(const RenderFixture&) = delete;

    // A new output image of w x h filled with one pixel (blue, green, red, alpha).
    Image* Output(int32_t w, int32_t h, HostPixel fill) {
        if (Op->OutputImage) Op->OutputImage->Recycle();
        Op->OutputImage = Solid(w, h, fill);
        return Op->OutputImage;
    }
    static Image* Solid(int32_t w, int32_t h, HostPixel fill) {
        Image* img = new Image(w, h);
        img->Fill(fill);
        return img;
    }
    // A captured shape of w x h: every pixel has the given red, the rest 65535.
    static ShapeLevel Level(int32_t w, int32_t h, uint16_t red) {
        ShapeLevel level;
        level.Width = w;
        level.Height = h;
        level.Pixels.assign(std::size_t(w) * h * 4, 65535);
        for (std::size_t i = 0; i < level.Pixels.size(); i += 4) level.Pixels[i] = red;
        return level;
    }
    void UseLevels(std::vector<ShapeLevel> levels) {
        Op->Shapes.AdoptPreloaded(ShapeSet{std::move(levels)});
    }

    // Places a particle in pool slot `slot` whose w x h picture starts at output
    // pixel (x, y) (whole pixels); the pool takes the image reference.
    Particle& Put(int32_t slot, double x, double y, int32_t w, int32_t h, Image* shape, double size = 1.0,
                  double age = 0.0) {
        Particle& p = Op->Pool.Particles[slot];
        if (p.ShapeImage) p.ShapeImage->Recycle();
        p = Particle{};
        const Image* out = Op->OutputImage;
        p.Position = Vec2d((x + w * 0.5) / out->Width, (y + h * 0.5) / out->Height);
        p.Size = size;
        p.Age = age;
        p.ShapeImage = shape;
        return p;
    }
    void Live(int32_t oldest, int32_t count) {
        Op->Pool.OldestIndex = oldest;
        Op->Pool.LiveCount = count;
        Op->Pool.NextIndex = (oldest + count) % PoolSize;
    }
    // One live particle in slot 0, composited into the output.
    void CompositeOne(double x, double y, int32_t w, int32_t h, Image* shape, double size = 1.0, double age = 0.0) {
        Put(0, x, y, w, h, shape, size, age);
        Live(0, 1);
        Composite();
    }
    void Composite() {
        Request req(Op, 0.0, 0);
        Op->CompositeParticles(&req);
    }
    // The live particles drawn one at a time, the plain way.
    void CompositeReference() { CompositeParticlesReference(LookAtFrame(*Op), Op->LiveParticlesView()); }
    // The banded compositing with other options, on the operator's workers.
    void CompositeWith(const CompositeOptions& options) {
        Compositor(options).Composite(LookAtFrame(*Op), Op->LiveParticlesView(), Op->Passes);
    }
    // Output pixels that differ from `bg`.
    int Changed(const HostPixel& bg) const {
        int n = 0;
        for (int32_t y = 0; y < Op->OutputImage->Height; ++y)
            for (int32_t x = 0; x < Op->OutputImage->Width; ++x) {
                const HostPixel p = Op->OutputImage->GetPixel(x, y);
                n += p.B != bg.B || p.G != bg.G || p.R != bg.R || p.A != bg.A;
            }
        return n;
    }
    HostPixel At(int32_t x, int32_t y) const { return Op->OutputImage->GetPixel(x, y); }
    // Keeps a parameter alive for the test (curves read by the pass).
    template <class T>
    T* Hold(T* p) {
        Held.push_back(p);
        return p;
    }

    ToolHarness H;
    ParticleOperator* Op = nullptr;

private:
    std::vector<Parameter*> Held;
};
