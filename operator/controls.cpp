#include <utility>

#include "host/fourcc.h"
#include "host/tags.h"
#include "operator/control_table.h"
#include "operator/particle_operator.h"

// The tool's controls come from the control table, page by page, in the order the
// host shows them; each input with a value is bound to its handle member.
void ParticleOperator::CreateControls() {
    std::span<Input* ParticleOperator::* const> handles = ControlHandles();
    size_t next = 0;
    int page = -1;
    auto inputById = [this](uint32_t id) -> const void* {
        for (Input* in : Inputs())
            if (in->ID == id) return in;
        return nullptr;
    };
    for (const controls::Control& c : controls::All()) {
        while (page < c.Page) AddControlPage(controls::PageNames[++page], 0);
        TagList tags;
        tags.Items = controls::CreationTags(c, inputById);
        Input* in = AddInput(c.Label, c.Type, c.Id, std::move(tags));
        if (c.HasValue() && next < handles.size()) this->*handles[next++] = in;
    }
    OutImage = AddOutput(controls::OutputLabel, DT_Image, controls::OutputId);
}
