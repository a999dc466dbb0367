#include "operator/input_names.h"

#include <cstdio>

#include "operator/particle_operator.h"

namespace {

struct NamedInput {
    Input* ParticleOperator::*Handle;
    const char* Name;
};

#define LUMETS_INPUT(member) {&ParticleOperator::member, #member}
// Every input handle the operator keeps, in creation order.
constexpr NamedInput NamedInputs[] = {
    LUMETS_INPUT(InResetPosition), LUMETS_INPUT(InFastForward), LUMETS_INPUT(InRollFrames),
    LUMETS_INPUT(InBirthrate), LUMETS_INPUT(InLifetime), LUMETS_INPUT(InSlowMotion),
    LUMETS_INPUT(InApplyBirthImage), LUMETS_INPUT(InEnableScale), LUMETS_INPUT(InGeneralSize),
    LUMETS_INPUT(InSizeVariance), LUMETS_INPUT(InStart), LUMETS_INPUT(InEnd),
    LUMETS_INPUT(InUseBirthSpline), LUMETS_INPUT(InBirthSpline),
    LUMETS_INPUT(InOrientation), LUMETS_INPUT(InSpread), LUMETS_INPUT(InSpeed), LUMETS_INPUT(InSpeedVariance),
    LUMETS_INPUT(InGravity), LUMETS_INPUT(InGravityAngle),
    LUMETS_INPUT(InEnableFade), LUMETS_INPUT(InMergeSpline), LUMETS_INPUT(InEnableGrow), LUMETS_INPUT(InGrowSpline),
    LUMETS_INPUT(InMaximumSize), LUMETS_INPUT(InEnableBlur), LUMETS_INPUT(InBlurSpline), LUMETS_INPUT(InMaximumBlur),
    LUMETS_INPUT(InMerge), LUMETS_INPUT(InBlurQuality), LUMETS_INPUT(InImageStartFrame),
    LUMETS_INPUT(InImageLastFrame), LUMETS_INPUT(InPreloadShapes), LUMETS_INPUT(InDeletePreloaded),
    LUMETS_INPUT(InFreeze),
    LUMETS_INPUT(InRotationSpeed), LUMETS_INPUT(InRotationVariance), LUMETS_INPUT(InStartingAngle),
    LUMETS_INPUT(InBanking),
    LUMETS_INPUT(InAttractor1Enable), LUMETS_INPUT(InAttractor1), LUMETS_INPUT(InAttractor1Strength),
    LUMETS_INPUT(InAttractor2Enable), LUMETS_INPUT(InAttractor2), LUMETS_INPUT(InAttractor2Strength),
    LUMETS_INPUT(InBounce1Enable), LUMETS_INPUT(InBounce1Elasticity), LUMETS_INPUT(InBounce1Roughness),
    LUMETS_INPUT(InBounce1Start), LUMETS_INPUT(InBounce1End),
    LUMETS_INPUT(InBounce2Enable), LUMETS_INPUT(InBounce2Elasticity), LUMETS_INPUT(InBounce2Roughness),
    LUMETS_INPUT(InBounce2Start), LUMETS_INPUT(InBounce2End), LUMETS_INPUT(InTumble),
    LUMETS_INPUT(InSaveFile), LUMETS_INPUT(InRecordStartFrame), LUMETS_INPUT(InRecordLastFrame),
    LUMETS_INPUT(InRecordNow), LUMETS_INPUT(InLoadStartFrame), LUMETS_INPUT(InLoadLastFrame),
    LUMETS_INPUT(InLoadSystem), LUMETS_INPUT(InReverse), LUMETS_INPUT(InLoadedNotice),
    LUMETS_INPUT(InUnloadSystem), LUMETS_INPUT(InSystemFile),
    LUMETS_INPUT(InPathBinding), LUMETS_INPUT(InPathPolyline), LUMETS_INPUT(InPathSpeedVariance),
    LUMETS_INPUT(InStrictMode), LUMETS_INPUT(InStrictDeviation), LUMETS_INPUT(InMaximumDeviation),
    LUMETS_INPUT(InColorTinting), LUMETS_INPUT(InRedSpline), LUMETS_INPUT(InGreenSpline), LUMETS_INPUT(InBlueSpline),
    LUMETS_INPUT(InEditRed), LUMETS_INPUT(InEditGreen), LUMETS_INPUT(InEditBlue), LUMETS_INPUT(InColorMorph),
    LUMETS_INPUT(InParticleImage), LUMETS_INPUT(InImage),
};
#undef LUMETS_INPUT

void AppendLine(std::string& text, uint32_t id, const char* name) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x ", unsigned(id));
    text += hex;
    text += name;
    text += '\n';
}

}  // namespace

std::string InputNameTable(const ParticleOperator& op) {
    std::string text;
    for (const NamedInput& named : NamedInputs) {
        if (const Input* in = op.*named.Handle) AppendLine(text, in->ID, named.Name);
    }
    if (op.OutImage) AppendLine(text, op.OutImage->ID, "OutImage");
    return text;
}
