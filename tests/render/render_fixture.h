#pragma once
// A tool whose frame state the render tests set directly: an output image,
// particles in chosen slots, frame settings. Positions are given in output
// pixels through AspectX = AspectY = 1.
#include <cstdint>
#include <vector>

#include "common/tool_harness.h"
#include "host/image.h"
#include "host/operator.h"
#include "operator/particle_operator.h"

class RenderFixture {
public:
    RenderFixture() {
        Op = H.Op;
        Op->AspectX = 1.0;
        Op->AspectY = 1.0;
        Op->Lifetime = 100.0;
        Op->Merge = 0.0;
        Op->HighQuality = 0;
        Op->ApplyBirthImage = 0;
        Op->FadeEnabled = 0;
        Op->GrowEnabled = 0;
        Op->TintEnabled = 0;
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
        Op->OutputImage = new Image(w, h);
        Op->OutputImage->Fill(fill);
        return Op->OutputImage;
    }

    static Image* Solid(int32_t w, int32_t h, HostPixel fill) {
        Image* img = new Image(w, h);
        img->Fill(fill);
        return img;
    }

    // Places a particle in pool slot `slot` whose w x h picture starts at output
    // pixel (x, y) (whole pixels); the pool takes the image reference.
    Particle& Put(int32_t slot, double x, double y, int32_t w, int32_t h, Image* shape, double size = 1.0,
                  double age = 0.0) {
        Particle& p = Op->Particles[slot];
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
        Op->OldestIndex = oldest;
        Op->LiveCount = count;
        Op->NextIndex = (oldest + count) % PoolSize;
    }
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
