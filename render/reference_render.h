#pragma once
// The plain way of drawing the particles, which the banded compositing is
// checked against: one particle after the other, oldest first, each drawn whole
// through the output's read-pixel and write-pixel routines.
#include "render/frame_look.h"
#include "render/live_particles.h"
#include "simulation/particle.h"

// Draws every live particle into look.Out, oldest first.
void CompositeParticlesReference(FrameLook look, const LiveParticles& particles);

// Draws one particle by itself into look.Out (a blurred one only in its drawn
// part, so time and memory stay bounded by the output's size); with its
// earlier state given and motion blur on, over the shutter.
void DrawParticleAlone(FrameLook look, const Particle& p, const ParticleBefore* before = nullptr);
