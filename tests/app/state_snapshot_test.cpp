// Saved simulation states: a frame rendered after restoring the state of an
// earlier frame equals the frame simulated from the flow's start.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "app/session/flow_loader.h"
#include "app/io/image_io.h"
#include "app/session/session.h"

using namespace lumets;

namespace {

std::vector<uint16_t> Pixels(const Image& image) {
    std::vector<uint16_t> out;
    for (int32_t y = 0; y < image.Height; ++y)
        for (int32_t x = 0; x < image.Width; ++x) {
            const Rgba16 p = PixelAt(image, x, y);
            out.insert(out.end(), {p.R, p.G, p.B, p.A});
        }
    return out;
}

FlowFile Example(const std::string& name, const std::function<void(Json&)>& edit = nullptr) {
    FlowFile flow = LoadFlowFile(std::string(LUMETS_SOURCE_DIR) + "/examples/" + name);
    if (!edit) return flow;
    Json raw = flow.Raw;
    edit(raw);
    return ParseFlow(raw.dump(), flow.Name, flow.Folder);
}

SessionOptions Quiet() {
    SessionOptions o;
    o.Quiet = true;
    return o;
}

void CheckRestoredFramesMatch(const FlowFile& flow, int64_t frame) {
    SCOPED_TRACE(flow.Name + " frame " + std::to_string(frame));
    // The frame as `lumets render --frames N-N` makes it.
    std::vector<uint16_t> expected;
    {
        Session s(flow, Quiet());
        s.Render(frame, frame, true, 0, [&](int64_t, Image* p) { expected = Pixels(*p); }, "frame");
    }
    ASSERT_FALSE(expected.empty());

    // One session saves its state after every frame; a second one is restored
    // from several of them, out of order, and from its own state as made.
    std::map<int64_t, std::unique_ptr<SimulationState>> states;
    Session first(flow, Quiet());
    first.RenderFrom(flow.First, frame, [](Image*) {}, [&](int64_t f) { states[f] = first.SaveState(); });
    Session second(flow, Quiet());
    std::unique_ptr<SimulationState> initial = second.SaveState();
    ASSERT_TRUE(initial);
    for (int64_t k : {frame - 1, flow.First, (flow.First + frame) / 2, flow.First - 1}) {
        if (k < flow.First - 1 || k >= frame) continue;
        const SimulationState* state = k < flow.First ? initial.get() : states.at(k).get();
        ASSERT_TRUE(state) << "no state for frame " << k;
        ASSERT_TRUE(second.RestoreState(*state, std::max(k, flow.First)));
        std::vector<uint16_t> got;
        second.RenderFrom(k + 1, frame, [&](Image* p) { got = Pixels(*p); }, [](int64_t) {});
        EXPECT_TRUE(got == expected) << "restored at frame " << k;
    }
}

TEST(StateSnapshot, RestoredStatesRenderTheFramesOfAFullSimulation) {
    CheckRestoredFramesMatch(Example("fountain.json"), 20);  // pre-roll event, bounces
    CheckRestoredFramesMatch(Example("path.json"), 30);      // path binding
    CheckRestoredFramesMatch(Example("colour.json"), 15);
    CheckRestoredFramesMatch(Example("sprite.json"), 12);    // a particle image sequence
    CheckRestoredFramesMatch(Example("smoke.json"), 10);     // turbulence: its time is part of the state
    // Keyframed numbers and a keyframed switch.
    CheckRestoredFramesMatch(Example("snow.json", [](Json& j) {
                                 j["controls"]["GravityAngle"] = {{"keys", {{0, 270}, {25, 180}}}};
                                 j["controls"]["EnableScale"] = {{"keys", {{0, 0}, {10, 1}}}};
                             }),
                             24);
}

TEST(StateSnapshot, StatesAreRefusedWhereTheyCannotHold) {
    Session a(Example("fountain.json"), Quiet());
    SessionOptions proxy = Quiet();
    proxy.Proxy = 2;
    Session reduced(Example("sprite.json"), proxy);
    reduced.RenderFrom(0, 2, [](Image*) {}, [](int64_t) {});
    EXPECT_EQ(reduced.SaveState(), nullptr);
    // A state goes back only to a tool of its own kind and in a state to take it.
    std::unique_ptr<SimulationState> s = a.SaveState();
    ASSERT_TRUE(s);
    EXPECT_FALSE(reduced.RestoreState(*s, 0));
}

}  // namespace
