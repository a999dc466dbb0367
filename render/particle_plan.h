#pragma once
// One particle's drawing worked out before any pixel is touched: its source,
// size, placement, blur, clipping, fade and tint at its age.
#include <cstdint>

#include "host/image.h"
#include "render/blur.h"
#include "render/frame_look.h"
#include "render/pixel_kernels.h"
#include "render/shape_set.h"
#include "simulation/particle.h"

// One particle's drawing worked out before any pixel is touched.
struct ParticlePlan {
    const Particle* P = nullptr;
    const ShapeLevel* Level = nullptr;  // captured level L
    const ShapeLevel* Next = nullptr;   // level mixed into it, or null
    uint32_t Mix = 0;
    const Image* Img = nullptr;  // host image source
    int32_t W = 0, H = 0, X = 0, Y = 0;
    float Fx = 0.0f, Fy = 0.0f;
    // The drawn picture: the resampled one, or for a blurred particle the
    // picture grown by the blur's reach on every side. Rows R0..R1 and columns
    // C0..C1 of it are drawn, its pixel (0, 0) landing on output (DrawX, DrawY).
    bool Blurred = false;
    BlurAxis BlurX, BlurY;
    int32_t DrawX = 0, DrawY = 0;
    int32_t R0 = 0, R1 = 0, C0 = 0, C1 = 0;
    uint32_t F = 0;
    bool Tint = false;
    uint32_t TR = 0, TG = 0, TB = 0, TW = 0;
    ResampleSetup Setup;  // the mapping into the source (the banded path)
    // A motion-blurred particle (render/motion_blur.h): its earlier state, and
    // Blurred set; rows R0..R1 and columns C0..C1 are then output pixels
    // (DrawX = DrawY = 0), the box every sub-frame draw falls in.
    const ParticleBefore* Before = nullptr;
};

// Works out one particle's drawing; false when it draws nothing.
bool PlanParticle(const FrameLook& look, const Particle& p, ParticlePlan& plan);
