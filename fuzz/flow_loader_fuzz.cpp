// Fuzz target: a flow file as the command-line host reads it. The input is the
// file's text; it is parsed, its controls are bound to the tool's inputs (types,
// ranges, keyframes, curves), its events to the tool's buttons, and every value
// is turned into a host parameter at a few frames. Bad flows must be refused
// with a UserError (the one-line error the command line prints); any other
// exception, crash or hang is a fault.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/session/control_catalog.h"
#include "app/session/control_driver.h"
#include "app/io/errors.h"
#include "app/session/flow_loader.h"
#include "host/parameters.h"
#include "host/registry.h"
#include "host/tags.h"
#include "operator/input_names.h"
#include "operator/particle_operator.h"

namespace {

struct Fixture {
    Registry Reg{&ClassRegistry, "FlowLoaderFuzz", {}};
    ParticleOperator* Op = nullptr;
    lumets::ControlCatalog Catalog;
    Fixture() {
        TagList tags{{Tags::RandomSeed, 1}};
        Op = static_cast<ParticleOperator*>(CreateParticleOperator(&Reg, nullptr, &tags));
        Catalog = lumets::ControlCatalog(*Op, lumets::ParseNameTable(InputNameTable(*Op)));
    }
};

void UseTracks(const std::vector<lumets::ControlTrack>& tracks, const lumets::FlowFile& flow) {
    const double times[] = {double(flow.First), double(flow.First) + 0.5, double(flow.Last),
                            double(flow.Last) + 1.0};
    for (const lumets::ControlTrack& track : tracks) {
        for (double t : times) {
            Parameter* p = lumets::MakeParameter(track.At(t));
            if (p) p->Recycle();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture* fx = new Fixture;
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        lumets::FlowFile flow = lumets::ParseFlow(text, "fuzz.json", "flows");
        std::vector<std::string> warnings;
        const auto tracks = lumets::BindControls(flow.Controls, fx->Catalog, &warnings);
        UseTracks(tracks, flow);
        (void)lumets::BindEvents(flow.Events, fx->Catalog);
        lumets::Json raw = flow.Raw;
        lumets::RebaseFlowPaths(raw, "flows", "out/elsewhere");
    } catch (const lumets::UserError&) {
    }
    return 0;
}
