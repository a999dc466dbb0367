#include "render/frame_sources.h"

#include <algorithm>
#include <new>
#include <utility>

#include "render/host_pixels.h"

SourceId SourceIdOf(const ParticlePlan& plan, bool inPlace) {
    using Kind = FrameSource::Kind;
    SourceId sid;
    sid.From = plan.Level ? Kind::Level : inPlace ? Kind::InPlace : Kind::HostImage;
    sid.W = plan.Level ? plan.Level->Width : plan.Img->Width;
    sid.H = plan.Level ? plan.Level->Height : plan.Img->Height;
    sid.Next = plan.Level ? plan.Next : nullptr;
    sid.Mix = sid.Next ? plan.Mix : 0;
    sid.Id = sid.From == Kind::InPlace     ? static_cast<const void*>(plan.Img->Data())
             : sid.From == Kind::HostImage ? static_cast<const void*>(plan.Img)
                                           : static_cast<const void*>(plan.Level);
    return sid;
}

// A captured level (red, green, blue, alpha), or its mix with the next level,
// in blue, green, red, alpha order. The mix works word by word, so its order
// does not matter.
void ReadLevelBgra(const ShapeLevel& level, const ShapeLevel* next, uint32_t mix, std::vector<uint16_t>& out) {
    const std::size_t n = std::size_t(level.Width) * std::size_t(level.Height);
    out.resize(n * 4);
    const uint16_t* cur = level.Pixels.data();
    uint16_t* px = out.data();
    if (!next) {
        for (std::size_t i = 0; i < n; ++i, cur += 4, px += 4) {
            px[0] = cur[2];
            px[1] = cur[1];
            px[2] = cur[0];
            px[3] = cur[3];
        }
        return;
    }
    const uint32_t m = mix, keep = 65535u - mix;
    const uint16_t* nxt = next->Pixels.data();
    auto mixed = [&](int ch) { return uint16_t(((nxt[ch] * m) >> 16) + ((cur[ch] * keep) >> 16)); };
    for (std::size_t i = 0; i < n; ++i, cur += 4, nxt += 4, px += 4) {
        px[0] = mixed(2);
        px[1] = mixed(1);
        px[2] = mixed(0);
        px[3] = mixed(3);
    }
}

void MakeSource(FrameSource& s) {
    try {
        if (s.From == FrameSource::Kind::HostImage) {
            ReadImagePixels(s.Img, s.Words, true);
            s.View = ViewOf(s.Words.data(), s.Img->Width, s.Img->Height);
        } else if (s.From == FrameSource::Kind::Level) {
            ReadLevelBgra(*s.Level, s.Next, s.Mix, s.Words);
            s.View = ViewOf(s.Words.data(), s.Level->Width, s.Level->Height);
        }
        if (s.MakeWide) AddWideAndClear(s.View, s.WideWords, s.ClearMap);
        s.Ready = true;
    } catch (const std::bad_alloc&) {
        s.Words = {};
        s.WideWords = {};
        s.ClearMap = {};
        s.Ready = false;  // the particles drawn from it are skipped
    }
}

int32_t FrameSources::Look(const ParticlePlan& plan, const SourceId& sid) {
    using Kind = FrameSource::Kind;
    const Kind from = sid.From;
    const int32_t w = sid.W, h = sid.H;
    auto [first, last] = Index.equal_range(sid.Id);
    for (auto it = first; it != last; ++it) {
        const FrameSource& s = Sources[std::size_t(it->second)];
        if (s.From != from || s.Next != sid.Next || s.Mix != sid.Mix) continue;
        if (from == Kind::InPlace && (s.View.W != w || s.View.H != h)) continue;
        return it->second;
    }
    FrameSource key;
    key.From = from;
    std::size_t bytes = 0;
    if (from == Kind::Level) {
        key.Level = plan.Level;
        key.Next = sid.Next;
        key.Mix = sid.Mix;
        bytes = std::size_t(w) * std::size_t(h) * 8;
    } else if (from == Kind::InPlace) {
        key.Img = plan.Img;
        key.View = ViewOf(plan.Img->Data(), w, h);
        key.Ready = true;
    } else {
        key.Img = plan.Img;
        bytes = std::size_t(w) * std::size_t(h) * 8;
    }
    const std::size_t left = Budget - std::min(Budget, Used);
    if (bytes > left) return -1;
    const std::size_t wide = Spline ? WideAndClearBytes(w, h) : 0;
    key.MakeWide = wide > 0 && bytes + wide <= left;
    Used += bytes + (key.MakeWide ? wide : 0);
    const int32_t index = int32_t(Sources.size());
    const bool make = bytes > 0 || key.MakeWide;
    if (make) key.Ready = false;
    Sources.push_back(std::move(key));
    Index.emplace(sid.Id, index);
    if (make) ToMake.push_back(index);
    return index;
}

bool OwnSource(const ParticlePlan& plan, std::vector<uint16_t>& scratch, SourceView& view) {
    try {
        if (plan.Level) {
            ReadLevelBgra(*plan.Level, plan.Next, plan.Next ? plan.Mix : 0, scratch);
            view = ViewOf(scratch.data(), plan.Level->Width, plan.Level->Height);
        } else {
            ReadImagePixels(plan.Img, scratch, true);
            view = ViewOf(scratch.data(), plan.Img->Width, plan.Img->Height);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
