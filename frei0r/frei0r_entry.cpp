// The frei0r C interface of the lumets filter. Every entry point catches what
// the filter throws: frei0r has no error channel, and nothing may reach the host.
#include <dlfcn.h>

// The header declares the entry points without C linkage of its own.
extern "C" {
#include <frei0r.h>
}

#include <new>

#include "frei0r/filter.h"

using lumets::frei0r::Filter;
using lumets::frei0r::ParamKind;
using lumets::frei0r::Params;
using lumets::frei0r::ParamValue;
using lumets::frei0r::TimeUnit;

namespace {

bool ValidIndex(int index) { return index >= 0 && size_t(index) < Params.size(); }

// ffmpeg's frei0r filter (libavfilter) hands the time in milliseconds, not in
// seconds as the frei0r interface says; MLT and GStreamer hand seconds. The unit
// is told by the module that called the filter.
TimeUnit UnitOfCaller(const void* returnAddress) {
    Dl_info info{};
    if (!dladdr(returnAddress, &info) || !info.dli_fname) return TimeUnit::Seconds;
    void* handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    const bool avfilter = handle && dlsym(handle, "avfilter_version");
    if (handle) dlclose(handle);
    return avfilter ? TimeUnit::Milliseconds : TimeUnit::Seconds;
}

}  // namespace

extern "C" {

int f0r_init() { return 1; }

void f0r_deinit() {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (!info) return;
    info->name = "lumets";
    info->author = "Corvane";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 2;
    info->minor_version = 0;
    info->num_params = int(Params.size());
    info->explanation = "Lumet-s particles drawn over the video, as a lumets flow file describes them";
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
    if (!info || !ValidIndex(index)) return;
    const auto& p = Params[size_t(index)];
    info->name = p.Name;
    info->explanation = p.Explanation;
    info->type = p.Kind == ParamKind::Text ? F0R_PARAM_STRING : F0R_PARAM_DOUBLE;
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    if (width == 0 || height == 0 || width > 16384 || height > 16384) return nullptr;
    try {
        return new Filter(width, height);
    } catch (...) {
        return nullptr;
    }
}

void f0r_destruct(f0r_instance_t instance) { delete static_cast<Filter*>(instance); }

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    if (!instance || !param || !ValidIndex(index)) return;
    auto* filter = static_cast<Filter*>(instance);
    try {
        ParamValue v;
        switch (Params[size_t(index)].Kind) {
        case ParamKind::Text: {
            const char* text = *static_cast<f0r_param_string*>(param);
            v.Text = text ? text : "";
            break;
        }
        case ParamKind::Number:
            v.Number = *static_cast<f0r_param_double*>(param);
            break;
        }
        filter->Set(index, v);
    } catch (...) {
        // Out of memory copying a text: the parameter keeps its value.
    }
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    if (!instance || !param || !ValidIndex(index)) return;
    const ParamValue& v = static_cast<Filter*>(instance)->Get(index);
    switch (Params[size_t(index)].Kind) {
    case ParamKind::Text:
        *static_cast<f0r_param_string*>(param) = const_cast<char*>(v.Text.c_str());
        break;
    case ParamKind::Number:
        *static_cast<f0r_param_double*>(param) = v.Number;
        break;
    }
}

void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe, uint32_t* outframe) {
    if (!instance) return;
    // ffmpeg hands every frame once, in order; MLT and GStreamer may seek.
    const TimeUnit unit = UnitOfCaller(__builtin_return_address(0));
    static_cast<Filter*>(instance)->Update(time, unit, inframe, outframe, unit == TimeUnit::Milliseconds);
}

}  // extern "C"
