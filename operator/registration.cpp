// The plug-in module's entry: the class registration the host finds when it
// loads the module, and the module's resources.
#include <string>

#include "host/registry.h"
#include "operator/control_table.h"
#include "operator/particle_operator.h"
#include "resources/tile_bitmap.h"

namespace {

constexpr int32_t TileBitmapId = 2000;
constexpr int32_t InputNamesId = 2001;

}  // namespace

// Constructed when the module loads (adds the tool to the host's class list) and
// destroyed when it unloads (removes it).
static Registry ParticleRegistry(&ClassRegistry, controls::ClassName,
                                 {
                                     {RegTags::Init, OperatorReg::RegInit},
                                     {RegTags::Cleanup, OperatorReg::RegCleanup},
                                     {RegTags::Factory, &CreateParticleOperator},
                                     {RegTags::ClassID, ClassId},
                                     {RegTags::Kind, 3},
                                     {RegTags::TileBitmap, TileBitmapId},
                                     {RegTags::LongName, "Lumet-s v2.0"},
                                     {RegTags::Company, "Corvane"},
                                     {RegTags::ShortName, "S1"},
                                     {RegTags::HelpText, "Adds customized particles to your flow"},
                                     {RegTags::Flags, 1},
                                 });

namespace {

const std::string& InputNames() {
    static const std::string text = controls::NameResourceText();
    return text;
}

}  // namespace

// Resource 2000: the tile bitmap (a bitmap file). Resource 2001: the text table
// of the tool's input IDs and names. Any other ID: none.
extern "C" Resource LumetsGetResource(int32_t id) {
    if (id == TileBitmapId) {
        const std::vector<uint8_t>& bitmap = TileBitmap();
        return {bitmap.data(), bitmap.size()};
    }
    if (id == InputNamesId) {
        const std::string& names = InputNames();
        return {reinterpret_cast<const uint8_t*>(names.data()), names.size()};
    }
    return {};
}

// The version of the build this module comes from, shown by `lumets --version`.
extern "C" const char* LumetsModuleVersion() { return LUMETS_VERSION; }
