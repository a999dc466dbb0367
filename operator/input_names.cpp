#include "operator/input_names.h"

#include "operator/control_table.h"
#include "operator/particle_operator.h"

std::span<Input* ParticleOperator::* const> ParticleOperator::ControlHandles() {
    using P = ParticleOperator;
    // Every handle, in the order of the table's inputs that hold a value.
    static constexpr Input* P::*Handles[] = {
        &P::InResetPosition, &P::InFastForward, &P::InRollFrames, &P::InBirthrate, &P::InLifetime, &P::InSlowMotion,
        &P::InApplyBirthImage, &P::InEnableScale, &P::InGeneralSize, &P::InSizeVariance, &P::InStart, &P::InEnd,
        &P::InUseBirthSpline, &P::InBirthSpline,
        &P::InOrientation, &P::InSpread, &P::InSpeed, &P::InSpeedVariance, &P::InGravity, &P::InGravityAngle,
        &P::InEnableFade, &P::InMergeSpline, &P::InEnableGrow, &P::InGrowSpline, &P::InMaximumSize, &P::InEnableBlur,
        &P::InBlurSpline, &P::InMaximumBlur,
        &P::InMerge, &P::InBlurQuality, &P::InImageStartFrame, &P::InImageLastFrame, &P::InPreloadShapes,
        &P::InDeletePreloaded, &P::InFreeze,
        &P::InRotationSpeed, &P::InRotationVariance, &P::InStartingAngle, &P::InBanking,
        &P::InAttractor1Enable, &P::InAttractor1, &P::InAttractor1Strength,
        &P::InAttractor2Enable, &P::InAttractor2, &P::InAttractor2Strength,
        &P::InBounce1Enable, &P::InBounce1Elasticity, &P::InBounce1Roughness, &P::InBounce1Start, &P::InBounce1End,
        &P::InBounce2Enable, &P::InBounce2Elasticity, &P::InBounce2Roughness, &P::InBounce2Start, &P::InBounce2End,
        &P::InTumble,
        &P::InSaveFile, &P::InRecordStartFrame, &P::InRecordLastFrame, &P::InRecordNow, &P::InLoadStartFrame,
        &P::InLoadLastFrame, &P::InLoadSystem, &P::InReverse, &P::InLoadedNotice, &P::InUnloadSystem, &P::InSystemFile,
        &P::InPathBinding, &P::InPathPolyline, &P::InPathSpeedVariance, &P::InStrictMode, &P::InStrictDeviation,
        &P::InMaximumDeviation,
        &P::InColorTinting, &P::InRedSpline, &P::InGreenSpline, &P::InBlueSpline, &P::InEditRed, &P::InEditGreen,
        &P::InEditBlue, &P::InColorMorph,
        &P::InMotionBlur, &P::InShutterAngle, &P::InShutterOffset, &P::InMotionBlurSamples, &P::InTurbulence,
        &P::InTurbulenceScale, &P::InTurbulenceSpeed, &P::InWind,
        &P::InParticleImage, &P::InImage,
    };
    return Handles;
}

Input* ParticleOperator::ControlInput(std::string_view key) const {
    const auto handles = ControlHandles();
    size_t next = 0;
    for (const controls::Control& c : controls::All()) {
        if (!c.HasValue() || next >= handles.size()) continue;
        if (key == c.Key) return this->*handles[next];
        ++next;
    }
    return nullptr;
}

std::string InputNameTable(const ParticleOperator& op) {
    std::string text;
    const auto handles = ParticleOperator::ControlHandles();
    size_t next = 0;
    for (const controls::Control& c : controls::All()) {
        if (!c.HasValue() || next >= handles.size()) continue;
        if (const Input* in = op.*handles[next++]) controls::AppendNameLine(text, in->ID, c.ResourceName());
    }
    if (op.OutImage) controls::AppendNameLine(text, op.OutImage->ID, controls::OutputName);
    return text;
}
