// A flow whose inputs are not regular files (a device, a FIFO): the filter refuses
// them at once and passes the frame through, instead of reading forever and
// holding every instance up.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <vector>

#include "../common/test_files.h"

extern "C" {
#include <frei0r.h>
}

namespace {

constexpr unsigned W = 32, H = 24;

template <class F>
F* Entry(const char* name) {
    static void* module = dlopen(LUMETS_FREI0R_MODULE, RTLD_NOW | RTLD_LOCAL);
    return module ? reinterpret_cast<F*>(dlsym(module, name)) : nullptr;
}

// One frame of a new instance on the flow, waited for at most a few seconds.
// A filter that hangs cannot be stopped from here: the failure is reported and
// the test program ends.
std::vector<uint32_t> FrameOf(const std::string& flow) {
    const auto construct = Entry<decltype(f0r_construct)>("f0r_construct");
    const auto destruct = Entry<decltype(f0r_destruct)>("f0r_destruct");
    const auto setParam = Entry<decltype(f0r_set_param_value)>("f0r_set_param_value");
    const auto update = Entry<decltype(f0r_update)>("f0r_update");
    if (!construct || !destruct || !setParam || !update) {
        ADD_FAILURE() << "cannot load the filter: " << dlerror();
        return {};
    }
    f0r_instance_t instance = construct(W, H);
    const char* text = flow.c_str();
    setParam(instance, const_cast<char**>(&text), 0);
    std::vector<uint32_t> in(W * H, 0xff402010u), out(W * H, 0u);
    auto done = std::async(std::launch::async, [&] { update(instance, 0.0, in.data(), out.data()); });
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "f0r_update did not return within 20 s for " << flow;
        std::fflush(stdout);
        std::_Exit(1);
    }
    destruct(instance);
    EXPECT_EQ(out, in) << "the frame is not passed through for " << flow;
    return out;
}

TEST(Frei0rDeviceInputs, DeviceAndFifoInputsEndTheUpdateAtOnce) {
    testfiles::ScratchDir scratch;
    const std::string fifo = (scratch.Path / "input.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto flowWithParticle = [&](const std::string& name, const std::string& particle) {
        const auto path = scratch.Path / name;
        std::ofstream(path) << R"({"flow": 1, "frames": [0, 9], "particle": ")" << particle
                            << R"(", "controls": {"Birthrate": 4}})";
        return path.string();
    };
    FrameOf(flowWithParticle("zero.json", "/dev/zero"));
    FrameOf(flowWithParticle("fifo.json", fifo));
    FrameOf(fifo);  // the flow file itself
}

}  // namespace
