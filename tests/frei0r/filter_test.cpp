// The frei0r filter driven through its C interface, as a host drives it: jumps,
// repeated frames, several instances and hostile parameters.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <vector>

#include "../common/test_files.h"

extern "C" {
#include <frei0r.h>
}

namespace {

constexpr unsigned W = 64, H = 48;

struct Module {
    void* Handle = dlopen(LUMETS_FREI0R_MODULE, RTLD_NOW | RTLD_LOCAL);
    template <class F>
    F* Fn(const char* name) { return reinterpret_cast<F*>(dlsym(Handle, name)); }
    decltype(&f0r_construct) Construct = Fn<decltype(f0r_construct)>("f0r_construct");
    decltype(&f0r_destruct) Destruct = Fn<decltype(f0r_destruct)>("f0r_destruct");
    decltype(&f0r_set_param_value) SetParam = Fn<decltype(f0r_set_param_value)>("f0r_set_param_value");
    decltype(&f0r_update) Update = Fn<decltype(f0r_update)>("f0r_update");
};
Module& Filter() {
    static Module m;
    return m;
}

std::string FlowPath() {
    static const testfiles::ScratchDir scratch;  // removed when the program ends
    static const std::string path = [] {
        const auto p = scratch.Path / "flow.json";
        std::ofstream(p) << R"({"flow": 1, "frames": [0, 29], "seed": 3, "particle": {"shape": "dot", "size": 8},
          "controls": {"Birthrate": 8, "Start": [0.2, 0.7], "End": [0.8, 0.7], "Speed": 0.02, "Spread": 0.5}})";
        return p.string();
    }();
    return path;
}

struct Instance {
    f0r_instance_t Handle = Filter().Construct(W, H);
    std::vector<uint32_t> In = std::vector<uint32_t>(W * H, 0xff402010u), Out = std::vector<uint32_t>(W * H);
    explicit Instance(const std::string& flow = FlowPath()) { Text(0, flow); }
    ~Instance() { Filter().Destruct(Handle); }
    void Text(int index, const std::string& text) {
        const char* p = text.c_str();
        Filter().SetParam(Handle, const_cast<char**>(&p), index);
    }
    void Number(int index, double v) { Filter().SetParam(Handle, &v, index); }
    std::vector<uint32_t> Frame(int frame) { return At(frame / 25.0); }
    std::vector<uint32_t> At(double seconds) {
        Filter().Update(Handle, seconds, In.data(), Out.data());
        return Out;
    }
};

TEST(Frei0rFilter, JumpsAndRepeatsGiveTheFramesOfARunFromTheStart) {
    ASSERT_TRUE(Filter().Handle) << dlerror();
    Instance run;
    std::vector<std::vector<uint32_t>> frames;
    for (int f = 0; f < 8; ++f) frames.push_back(run.Frame(f));
    ASSERT_NE(frames[7], run.In) << "no particles drawn";

    Instance seek, other;
    for (int f : {5, 5, 2, 7, 3, 4, 0}) {
        EXPECT_EQ(seek.Frame(f), frames[size_t(f)]) << "frame " << f;
        other.Frame(7 - f);  // a second instance in between changes nothing
    }
    // Buffers that are one and the same (in place) give the same frame.
    Instance inPlace;
    inPlace.Frame(0);
    Filter().Update(inPlace.Handle, 1 / 25.0, inPlace.In.data(), inPlace.In.data());
    EXPECT_EQ(inPlace.In, frames[1]);
}

TEST(Frei0rFilter, HostileParametersPassFramesThroughWithoutHarm) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    struct Case {
        int Index;
        const char* Text;
        double Number;
    };
    const Case cases[] = {{0, "", 0},      {0, "/no/such/flow.json", 0}, {1, "0", 0},   {1, "25/0", 0},
                          {1, "1e400", 0}, {1, "-5", 0},                {1, "x", 0},   {2, "4294967296", 0},
                          {2, "-1", 0},    {3, nullptr, nan},          {9, nullptr, inf}};
    for (const Case& c : cases) {
        Instance f;
        if (c.Text) f.Text(c.Index, c.Text);
        else f.Number(c.Index, c.Number);
        EXPECT_EQ(f.Frame(3), f.In) << "parameter " << c.Index << " " << (c.Text ? c.Text : "(number)");
    }
    Instance f;
    const char* none = nullptr;
    Filter().SetParam(f.Handle, &none, 0);  // a null text keeps nothing alive
    Filter().SetParam(f.Handle, &none, 99);
    Filter().SetParam(f.Handle, nullptr, 1);
    EXPECT_EQ(f.At(nan), f.In);
    EXPECT_EQ(f.At(-1.0), f.In);
    Instance g;
    const auto frame0 = Instance().Frame(0), frame2 = Instance().Frame(2);
    EXPECT_EQ(g.At(1e12), g.In);  // beyond any flow: not simulated
    EXPECT_EQ(g.At(inf), frame0);  // no usable time: the frames are counted from the first
    EXPECT_EQ(g.Frame(2), frame2);  // and the next good time is drawn
    EXPECT_EQ(Filter().Construct(0, 8), nullptr);
}

}  // namespace
