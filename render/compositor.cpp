#include "render/compositor.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "render/background_copy.h"
#include "render/blur.h"
#include "render/frame_sources.h"
#include "render/host_pixels.h"
#include "render/motion_blur.h"
#include "render/particle_plan.h"
#include "render/pixel_kernels.h"

// A frame's plans: per live particle its plan, whether it is drawn (0: not
// drawn, 1: drawn, 2: drawn blurred), its source's identity and its first and
// last band.
struct PlanBuffers {
    std::vector<ParticlePlan> Plans;
    std::vector<uint8_t> Planned;
    std::vector<SourceId> SourceIds;
    std::vector<std::pair<int32_t, int32_t>> BandRange;
};

namespace {

// The tint of a plan in blue, green, red order.
TintWords TintOf(const ParticlePlan& plan) {
    TintWords t;
    t.Keep = uint16_t(65535u - plan.TW);
    t.Add[0] = uint16_t((plan.TB * plan.TW) >> 16);
    t.Add[1] = uint16_t((plan.TG * plan.TW) >> 16);
    t.Add[2] = uint16_t((plan.TR * plan.TW) >> 16);
    return t;
}

// A pass that runs Fn(begin, end) over the items 0 .. count - 1, in chunks of
// size items.
template <class Fn>
struct RangePass final : WorkerPass {
    Fn& F;
    int32_t Count, Size;
    RangePass(Fn& f, int32_t count, int32_t size) : F(f), Count(count), Size(size) {}
    long Chunks() const { return (long(Count) + Size - 1) / Size; }
    void Run(long chunk) override {
        const int32_t begin = int32_t(chunk * Size);
        F(begin, int32_t(std::min<long>(long(begin) + Size, Count)));
    }
};

// One compositing pass: the frame's look, its particles' plans and sources, and
// for every band of output rows the plans that cross it, oldest first.
// The runner runs its chunks: first the sources to make, then, wave after
// wave of particles (oldest first), the wave's blurred pictures and its part of
// every band.
struct CompositePass final : WorkerPass {
    enum class Stage { MakeSources, PrepareBlurred, Bands };
    Stage Current = Stage::MakeSources;
    const FrameLook* Look = nullptr;
    const std::vector<ParticlePlan>* Plans = nullptr;
    std::vector<int32_t> PlanSource;  // per plan: its source, or -1 for its own
    FrameSources* Sources = nullptr;
    std::vector<int32_t> BandStart, BandPlans;  // plans of band b: BandPlans[BandStart[b] .. BandStart[b + 1])
    int32_t BandRows = 1;
    bool Contiguous = false;  // output rows of 8-byte pixels read and written in place
    const PixelKernels* Kernels = nullptr;
    // Blurred particles whose drawn part is made before the bands: per plan
    // its index in ToPrepare and Prepared, or -1 when each band makes the
    // rows it needs (one over the budget on its own, or a motion-blurred one
    // with sharp draws).
    std::vector<int32_t> PreparedOf, ToPrepare;
    std::vector<std::vector<uint16_t>> Prepared;
    std::vector<uint8_t> PreparedReady;
    // The wave under way: its first picture to make, and the plans it draws
    // (index below WaveEnd); each band goes on from where the last wave left it.
    int32_t PrepareFirst = 0, WaveEnd = 0;
    std::vector<int32_t> Cursor;
    BackgroundCopy* Background = nullptr;

    void Run(long chunk) override {
        if (Current == Stage::MakeSources) {
            MakeSource(Sources->Sources[std::size_t(Sources->ToMake[std::size_t(chunk)])]);
            return;
        }
        if (Current == Stage::PrepareBlurred) {
            const int32_t i = ToPrepare[std::size_t(PrepareFirst + chunk)];
            const ParticlePlan& plan = (*Plans)[std::size_t(i)];
            const int32_t k = PreparedOf[std::size_t(i)];
            PreparedReady[std::size_t(k)] = MakeBlurredRows(i, plan.R0, plan.R1, Prepared[std::size_t(k)]);
            return;
        }
        DrawBand(int32_t(chunk));
    }

    // The source of plan i, from the frame's sources or made into own.
    bool ViewFor(int32_t i, std::vector<uint16_t>& own, SourceView& view) const {
        const int32_t s = PlanSource[std::size_t(i)];
        if (s < 0) return OwnSource((*Plans)[std::size_t(i)], own, view);
        const FrameSource& src = Sources->Sources[std::size_t(s)];
        if (!src.Ready) return false;
        view = src.View;
        return true;
    }

    // Rows r0 <= r < r1 of blurred plan i's grown picture, its drawn columns
    // only: the whole picture resampled and tinted, then blurred. For a
    // motion-blurred plan, output rows r0 .. r1 of its draws' average.
    bool MakeBlurredRows(int32_t i, int32_t r0, int32_t r1, std::vector<uint16_t>& out) const {
        static thread_local std::vector<uint16_t> own;
        const ParticlePlan& plan = (*Plans)[std::size_t(i)];
        if (plan.Before) return MakeMotionRows(i, r0, r1, out);
        SourceView view;
        if (!ViewFor(i, own, view)) return false;
        return DrawnRows(plan, view, r0, r1, out);
    }

    // Rows r0 <= r < r1 of a plan's drawn picture (blurred or not), its drawn
    // columns only.
    bool DrawnRows(const ParticlePlan& plan, const SourceView& view, int32_t r0, int32_t r1,
                   std::vector<uint16_t>& out) const {
        const int32_t cw = plan.C1 - plan.C0;
        try {
            if (!plan.Blurred) {
                out.resize(std::size_t(r1 - r0) * std::size_t(cw) * 4);
                const TintWords tint = TintOf(plan);
                for (int32_t j = r0; j < r1; ++j) {
                    uint16_t* row = out.data() + std::size_t(j - r0) * std::size_t(cw) * 4;
                    if (Look->Quality)
                        Kernels->SplineRow(view, plan.Setup, j, plan.C0, plan.C1, row);
                    else
                        Kernels->NearestRow(view, plan.Setup, j, plan.C0, plan.C1, row);
                    if (plan.Tint) Kernels->TintRow(row, cw, tint);
                }
                return true;
            }
            const std::size_t stride = std::size_t(plan.W) * 4;
            std::vector<uint16_t> picture(stride * std::size_t(plan.H));
            const TintWords tint = TintOf(plan);
            for (int32_t j = 0; j < plan.H; ++j) {
                uint16_t* row = picture.data() + std::size_t(j) * stride;
                if (Look->Quality)
                    Kernels->SplineRow(view, plan.Setup, j, 0, plan.W, row);
                else
                    Kernels->NearestRow(view, plan.Setup, j, 0, plan.W, row);
                if (plan.Tint) Kernels->TintRow(row, plan.W, tint);
            }
            out.resize(std::size_t(r1 - r0) * std::size_t(plan.C1 - plan.C0) * 4);
            BlurPictureRegion(picture.data(), plan.W, plan.H, plan.BlurX, plan.BlurY, r0, r1, plan.C0, plan.C1,
                              out.data());
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // Output rows r0 <= y < r1 of motion-blurred plan's averaged draws (five
    // words per pixel, render/motion_blur.h): each draw planned, made from its
    // own source and summed. The look holds at most 64 draws (the samples
    // control's range), well within what the worker's sums take.
    bool MakeMotionRows(int32_t i, int32_t r0, int32_t r1, std::vector<uint16_t>& out) const {
        // The worker's sums, kept from particle to particle.
        static thread_local MotionSumRows sum;
        static thread_local std::vector<uint16_t> own, drawn;
        const ParticlePlan& box = (*Plans)[std::size_t(i)];
        // The frame's source of the particle's first draw serves every draw
        // made from the same shape.
        const int32_t shared = PlanSource[std::size_t(i)];
        const FrameSource* frameSource = shared >= 0 ? &Sources->Sources[std::size_t(shared)] : nullptr;
        try {
            sum.Start(box.C0, r0, box.C1 - box.C0, r1 - r0);
            for (int32_t k = 0; k < Look->MotionSamples; ++k) {
                Particle q;
                ParticlePlan plan;
                if (!SubFrameParticle(*Look, *box.P, *box.Before, k, q) || !PlanParticle(*Look, q, plan)) continue;
                const int32_t top = std::max(plan.DrawY + plan.R0, r0), bottom = std::min(plan.DrawY + plan.R1, r1);
                if (top >= bottom) continue;
                const int32_t sw = plan.Level ? plan.Level->Width : plan.Img->Width;
                const int32_t sh = plan.Level ? plan.Level->Height : plan.Img->Height;
                plan.Setup =
                    MakeResampleSetup(sw, sh, float(q.Angle), plan.Fx, plan.Fy, plan.W, plan.H, Look->Ay, Look->Ax);
                SourceView view;
                if (frameSource && frameSource->Ready && plan.Level == box.Level && plan.Next == box.Next &&
                    plan.Mix == box.Mix && plan.Img == box.Img)
                    view = frameSource->View;
                else if (!OwnSource(plan, own, view))
                    continue;
                if (!DrawnRows(plan, view, top - plan.DrawY, bottom - plan.DrawY, drawn)) continue;
                const int32_t cw = plan.C1 - plan.C0;
                for (int32_t y = top; y < bottom; ++y)
                    sum.AddRow(plan.DrawX + plan.C0, y, drawn.data() + std::size_t(y - top) * std::size_t(cw) * 4, cw,
                               plan.F);
            }
            sum.Finish(Look->MotionSamples, out);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // Band rows y0 <= y < y1 of blurred plan i, blended from its prepared
    // picture or from rows made here.
    void DrawBlurred(int32_t i, int32_t y0, int32_t y1) {
        static thread_local std::vector<uint16_t> made;
        const ParticlePlan& plan = (*Plans)[std::size_t(i)];
        const int32_t top = std::max(plan.DrawY + plan.R0, y0), bottom = std::min(plan.DrawY + plan.R1, y1);
        if (top >= bottom) return;
        const int32_t cw = plan.C1 - plan.C0;
        const std::size_t words = plan.Before ? 5 : 4;  // an averaged pixel has five
        const uint16_t* rows = nullptr;
        const int32_t k = PreparedOf[std::size_t(i)];
        if (k >= 0) {
            if (!PreparedReady[std::size_t(k)]) return;
            rows = Prepared[std::size_t(k)].data() + std::size_t(top - plan.DrawY - plan.R0) * std::size_t(cw) * words;
        } else {
            if (!MakeBlurredRows(i, top - plan.DrawY, bottom - plan.DrawY, made)) return;
            rows = made.data();
        }
        Image* out = Look->Out;
        for (int32_t y = top; y < bottom; ++y, rows += std::size_t(cw) * words) {
            const int64_t offset = out->RowOffsets[std::size_t(y)] + int64_t(plan.DrawX + plan.C0) * out->PixelStep;
            if (plan.Before && Contiguous)
                BlendPremultipliedRow(out->Data() + offset / 2, rows, cw, Look->M);
            else if (plan.Before)
                BlendPremultipliedThroughRoutines(out, offset, rows, cw, Look->M, false);
            else if (Contiguous)
                Kernels->BlendRow(out->Data() + offset / 2, rows, cw, plan.F, Look->M);
            else
                BlendThroughRoutines(out, offset, rows, cw, plan.F, Look->M);
        }
    }

    // The plans of the wave crossing band b, oldest first: their rows in the
    // band resampled, tinted and blended one at a time (blurred ones blended
    // from their pictures).
    void DrawBand(int32_t b) {
        static thread_local std::vector<uint16_t> row, own;
        const int32_t y0 = b * BandRows;
        const int32_t y1 = std::min(y0 + BandRows, Look->OutH);
        Image* out = Look->Out;
        Background->Band(b);
        int32_t& k = Cursor[std::size_t(b)];
        for (; k < BandStart[std::size_t(b) + 1] && BandPlans[std::size_t(k)] < WaveEnd; ++k) {
            const int32_t i = BandPlans[std::size_t(k)];
            const ParticlePlan& plan = (*Plans)[std::size_t(i)];
            if (plan.Blurred) {
                DrawBlurred(i, y0, y1);
                continue;
            }
            SourceView view;
            const int32_t s = PlanSource[std::size_t(i)];
            if (s >= 0) {
                const FrameSource& src = Sources->Sources[std::size_t(s)];
                if (!src.Ready) continue;
                view = src.View;
            } else if (!OwnSource(plan, own, view)) {
                continue;
            }
            const int32_t cw = plan.C1 - plan.C0;
            if (row.size() < std::size_t(cw) * 4) row.resize(std::size_t(cw) * 4);
            const TintWords tint = TintOf(plan);
            const int32_t top = std::max(plan.Y + plan.R0, y0), bottom = std::min(plan.Y + plan.R1, y1);
            for (int32_t y = top; y < bottom; ++y) {
                const int32_t j = y - plan.Y;
                if (Look->Quality)
                    Kernels->SplineRow(view, plan.Setup, j, plan.C0, plan.C1, row.data());
                else
                    Kernels->NearestRow(view, plan.Setup, j, plan.C0, plan.C1, row.data());
                if (plan.Tint) Kernels->TintRow(row.data(), cw, tint);
                const int64_t offset = out->RowOffsets[std::size_t(y)] + int64_t(plan.X + plan.C0) * out->PixelStep;
                if (Contiguous)
                    Kernels->BlendRow(out->Data() + offset / 2, row.data(), cw, plan.F, Look->M);
                else
                    BlendThroughRoutines(out, offset, row.data(), cw, plan.F, Look->M);
            }
        }
    }
};

}  // namespace

Compositor::Compositor(const CompositeOptions& options) : Options(options), Buffers(std::make_unique<PlanBuffers>()) {}

Compositor::~Compositor() = default;

void Compositor::Composite(FrameLook look, const LiveParticles& particles, PassRunner& runner) {
    const CompositeOptions& options = Options;
    if (!look.Out || look.OutW <= 0 || look.OutH <= 0) return;
    // The shared image is made into a source like any other (below); a missing
    // one draws nothing.
    look.SharedReady = look.Shared != nullptr;

    // The plans, made on the workers: each particle's placement, its mapping
    // into its source, what tells its source apart (with whether it is read in
    // place: a walk over the image's row offsets, for every particle) and the
    // bands it crosses. The particles not drawn are then dropped, keeping the
    // order.
    const int32_t live = particles.Count();
    // Bands of output rows; each plan's first and last band is found with it.
    const int32_t bandRows = options.BandRows > 0 ? options.BandRows : std::max(1, (look.OutH + 63) / 64);
    const int32_t bands = (look.OutH + bandRows - 1) / bandRows;
    // The buffers are kept from frame to frame: every entry is written afresh
    // by the worker that plans it (PlanParticle starts from an empty plan).
    PlanBuffers& buffers = *Buffers;
    std::vector<ParticlePlan>& plans = buffers.Plans;
    std::vector<uint8_t>& planned = buffers.Planned;
    std::vector<SourceId>& sourceIds = buffers.SourceIds;
    std::vector<std::pair<int32_t, int32_t>>& bandRange = buffers.BandRange;
    plans.resize(std::size_t(live));
    planned.resize(std::size_t(live));
    sourceIds.resize(std::size_t(live));
    bandRange.resize(std::size_t(live));
    auto planRange = [&](int32_t begin, int32_t end) {
        for (int32_t n = begin; n < end; ++n) {
            ParticlePlan& plan = plans[std::size_t(n)];
            planned[std::size_t(n)] = 0;
            const ParticleBefore* before = particles.Before(n);
            if (MotionBlurOn(look, before)) {
                if (!PlanMotionParticle(look, particles[n], before, plan)) continue;
                planned[std::size_t(n)] = 2;
                sourceIds[std::size_t(n)] = SourceIdOf(plan, !plan.Level && ContiguousDirect(plan.Img));
                bandRange[std::size_t(n)] = {plan.R0 / bandRows, (plan.R1 - 1) / bandRows};
                continue;
            }
            if (!PlanParticle(look, particles[n], plan)) continue;
            planned[std::size_t(n)] = plan.Blurred ? 2 : 1;
            const int32_t sw = plan.Level ? plan.Level->Width : plan.Img->Width;
            const int32_t sh = plan.Level ? plan.Level->Height : plan.Img->Height;
            plan.Setup = MakeResampleSetup(sw, sh, float(plan.P->Angle), plan.Fx, plan.Fy, plan.W, plan.H, look.Ay, look.Ax);
            sourceIds[std::size_t(n)] = SourceIdOf(plan, !plan.Level && ContiguousDirect(plan.Img));
            bandRange[std::size_t(n)] = {(plan.DrawY + plan.R0) / bandRows, (plan.DrawY + plan.R1 - 1) / bandRows};
        }
    };
    RangePass<decltype(planRange)> planning(planRange, live, 1024);
    runner.RunPass(planning, planning.Chunks());
    std::size_t kept = 0;
    bool anyBlurred = false;
    for (std::size_t n = 0; n < std::size_t(live); ++n) {
        if (!planned[n]) continue;
        anyBlurred |= planned[n] == 2;
        if (kept != n) {
            plans[kept] = plans[n];
            sourceIds[kept] = sourceIds[n];
            bandRange[kept] = bandRange[n];
        }
        ++kept;
    }
    plans.resize(kept);
    if (plans.empty()) return;

    CompositePass pass;
    pass.Look = &look;
    pass.Plans = &plans;
    pass.Kernels = &ActiveKernels();
    pass.Contiguous = DirectAccess(look.Out) && look.Out->PixelStep == 8;

    FrameSources sources(options.SourceCacheBytes, look.Quality != 0);
    pass.Sources = &sources;
    pass.PlanSource.resize(plans.size());
    for (std::size_t i = 0; i < plans.size(); ++i) pass.PlanSource[i] = sources.Find(plans[i], sourceIds[i]);

    // The plans that cross each band, oldest first.
    pass.BandRows = bandRows;
    pass.BandStart.assign(std::size_t(bands) + 1, 0);
    for (std::size_t i = 0; i < plans.size(); ++i) {
        const auto [first, last] = bandRange[i];
        for (int32_t b = first; b <= last; ++b) ++pass.BandStart[std::size_t(b) + 1];
    }
    for (int32_t b = 0; b < bands; ++b) pass.BandStart[std::size_t(b) + 1] += pass.BandStart[std::size_t(b)];
    pass.BandPlans.resize(std::size_t(pass.BandStart[std::size_t(bands)]));
    {
        std::vector<int32_t> fill(pass.BandStart.begin(), pass.BandStart.end() - 1);
        for (std::size_t i = 0; i < plans.size(); ++i) {
            const auto [first, last] = bandRange[i];
            for (int32_t b = first; b <= last; ++b) pass.BandPlans[std::size_t(fill[std::size_t(b)]++)] = int32_t(i);
        }
    }

    // Blurred particles: their drawn parts are made before the bands draw them,
    // in waves of particles (oldest first) whose pictures fit in the budget
    // together. Each wave is drawn in every band before the next one starts,
    // so every pixel still takes the particles oldest first.
    struct Wave {
        int32_t PlanEnd, PrepareEnd;
    };
    std::vector<Wave> waves;
    pass.PreparedOf.assign(plans.size(), -1);
    {
        std::size_t used = 0;
        for (std::size_t i = 0; anyBlurred && i < plans.size(); ++i) {
            const ParticlePlan& plan = plans[i];
            if (!plan.Blurred) continue;
            // A motion-blurred particle whose draws are not blurred needs no
            // whole picture: each band sums the draws' rows it crosses, with no
            // memory kept and with the sums small enough to stay in cache.
            if (plan.Before && !look.Blur) continue;
            const std::size_t bytes =
                std::size_t(plan.R1 - plan.R0) * std::size_t(plan.C1 - plan.C0) * (plan.Before ? 10 : 8);
            if (bytes > options.BlurredBytes) continue;  // made band by band
            if (used + bytes > options.BlurredBytes) {
                waves.push_back({int32_t(i), int32_t(pass.ToPrepare.size())});
                used = 0;
            }
            used += bytes;
            pass.PreparedOf[i] = int32_t(pass.ToPrepare.size());
            pass.ToPrepare.push_back(int32_t(i));
        }
        waves.push_back({int32_t(plans.size()), int32_t(pass.ToPrepare.size())});
        pass.Prepared.resize(pass.ToPrepare.size());
        pass.PreparedReady.assign(pass.ToPrepare.size(), 0);
    }
    pass.Cursor.assign(pass.BandStart.begin(), pass.BandStart.end() - 1);
    // The output is written by several workers at once: if it still shares its
    // pixels with another image (it starts as a copy of the background), it
    // takes its own now.
    BackgroundCopy background(look.Out, pass.BandRows);
    pass.Background = &background;

    if (!sources.ToMake.empty()) {
        pass.Current = CompositePass::Stage::MakeSources;
        runner.RunPass(pass, long(sources.ToMake.size()));
    }
    for (const Wave& wave : waves) {
        if (wave.PrepareEnd > pass.PrepareFirst) {
            pass.Current = CompositePass::Stage::PrepareBlurred;
            runner.RunPass(pass, long(wave.PrepareEnd - pass.PrepareFirst));
        }
        pass.Current = CompositePass::Stage::Bands;
        pass.WaveEnd = wave.PlanEnd;
        runner.RunPass(pass, bands);
        for (int32_t k = pass.PrepareFirst; k < wave.PrepareEnd; ++k) pass.Prepared[std::size_t(k)] = {};
        pass.PrepareFirst = wave.PrepareEnd;
    }
}
