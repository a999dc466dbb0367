// The control table and the tool made from it: every input that holds a value is
// bound to its handle, and the name resource is what the tool's handles name.
#include <gtest/gtest.h>

#include "host/registry.h"
#include "operator/control_table.h"
#include "operator/input_names.h"
#include "operator/particle_operator.h"

namespace {

TEST(ControlBinding, EveryInputWithAValueHasItsOwnHandle) {
    Registry reg{&ClassRegistry, "ControlBindingTest", {}};
    auto* op = static_cast<ParticleOperator*>(CreateParticleOperator(&reg, nullptr, nullptr));
    size_t withValue = 0;
    for (const controls::Control& c : controls::All()) withValue += c.HasValue();
    const auto handles = ParticleOperator::ControlHandles();
    ASSERT_EQ(handles.size(), withValue);
    size_t next = 0;
    for (const controls::Control& c : controls::All()) {
        if (!c.HasValue()) continue;
        const Input* in = op->*handles[next++];
        ASSERT_NE(in, nullptr) << c.Key;
        EXPECT_EQ(in->ID, c.Id) << c.Key;
        EXPECT_EQ(in->Label, c.Label) << c.Key;
    }
    EXPECT_EQ(InputNameTable(*op), controls::NameResourceText());
    op->Recycle();
}

}  // namespace
