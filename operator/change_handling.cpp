#include "host/fourcc.h"
#include "host/parameters.h"
#include "host/tags.h"
#include "operator/particle_operator.h"

namespace {

// The number a change carries. Buttons whose data type is text may be notified
// with a parameter that is not a number: any such parameter counts as a press.
// Any other parameter that is not a number reads as 0 (switched off).
double ChangeValue(const Input* in, const Parameter* value) {
    if (value->DataType == DT_Number) return static_cast<const Number*>(value)->Value;
    return in->DataType == DT_Text ? 1.0 : 0.0;
}

bool Pressed(double value) { return value > 0.5; }

// The switch state as a whole number, cut toward zero. Values outside the int32
// range and NaN (never produced by a check box) are held at its ends or read as
// 0 instead of an undefined conversion.
int32_t SwitchValue(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return -2147483647 - 1;
    return int32_t(value);
}

}  // namespace

// Mirrors the check boxes into flags, shows and hides the controls that depend
// on them, leaves requests for the next frame, and runs the file and capture
// buttons. Every change also goes through the host's own handling, except a
// change of "Reset Position" or "FastForward" that carries a value: those two
// only leave their request. A change without a value gets the host's handling only.
void ParticleOperator::NotifyChanged(Input* in, Parameter* value, double time) {
    if (!value) {
        Operator::NotifyChanged(in, value, time);
        return;
    }
    const double number = ChangeValue(in, value);
    // Switch state: the value cut toward zero, kept as a 0/1 flag.
    const int32_t on = SwitchValue(number) != 0 ? 1 : 0;

    if (in == InBanking) {
        BankingEnabled = on;
        SetVisible(InRotationSpeed, on ? 0 : 1);
        SetVisible(InRotationVariance, on ? 0 : 1);
    } else if (in == InSaveFile) {
        if (Pressed(number)) OnSaveFile(time);
    } else if (in == InUnloadSystem) {
        if (Pressed(number)) OnUnloadSystem(time);
    } else if (in == InLoadSystem) {
        if (Pressed(number)) OnLoadSystem(time);
    } else if (in == InRecordNow) {
        if (Pressed(number)) OnRecordNow(time);
    } else if (in == InReverse) {
        ReversePlayback = Pressed(number) ? 1 : 0;
    } else if (in == InEditRed) {
        InRedSpline->SetAttrs({{Tags::CurveEditing, on}});
    } else if (in == InEditGreen) {
        InGreenSpline->SetAttrs({{Tags::CurveEditing, on}});
    } else if (in == InEditBlue) {
        InBlueSpline->SetAttrs({{Tags::CurveEditing, on}});
    } else if (in == InPreloadShapes) {
        if (on) OnPreloadShapes(time);
    } else if (in == InDeletePreloaded) {
        if (on) OnDeletePreloaded(time);
    } else if (in == InStrictMode) {
        StrictModeEnabled = on;
        SetVisible(InStrictDeviation, on);
        SetVisible(InMaximumDeviation, on);
    } else if (in == InUseBirthSpline) {
        UseBirthSpline = on;
        SetVisible(InBirthSpline, on);
        SetViewVisible(InBirthSpline, on);
        for (Input* point : {InStart, InEnd}) {
            SetVisible(point, on ? 0 : 1);
            SetViewVisible(point, on ? 0 : 1);
        }
    } else if (in == InPathBinding) {
        PathBindingEnabled = on;
        SetVisible(InPathPolyline, on);
        SetViewVisible(InPathPolyline, on);
    } else if (in == InColorTinting) {
        TintEnabled = on;
    } else if (in == InEnableBlur) {
        BlurEnabled = on;
        SetVisible(InBlurSpline, on);
        SetVisible(InMaximumBlur, on);
    } else if (in == InEnableScale) {
        ScaleEnabled = on;
        SetVisible(InGeneralSize, on);
        SetVisible(InSizeVariance, on);
    } else if (in == InEnableGrow) {
        GrowEnabled = on;
        SetVisible(InGrowSpline, on);
        SetVisible(InMaximumSize, on);
    } else if (in == InEnableFade) {
        FadeEnabled = on;
        SetVisible(InMergeSpline, on);
    } else if (in == InAttractor1Enable || in == InAttractor2Enable) {
        const bool first = in == InAttractor1Enable;
        Input* point = first ? InAttractor1 : InAttractor2;
        Input* strength = first ? InAttractor1Strength : InAttractor2Strength;
        // Only a value of exactly 0 switches the attractor off.
        const int32_t enabled = number == 0.0 ? 0 : 1;
        SetDisabled(point, 1 - enabled);
        SetVisible(point, enabled);
        SetViewVisible(point, enabled);
        SetDisabled(strength, 1 - enabled);
        SetVisible(strength, enabled);
        AttractorEnabled[first ? 0 : 1] = enabled;
    } else if (in == InBounce1Enable || in == InBounce2Enable) {
        const bool first = in == InBounce1Enable;
        const int32_t enabled = number == 0.0 ? 0 : 1;
        for (Input* point : {first ? InBounce1Start : InBounce2Start, first ? InBounce1End : InBounce2End}) {
            SetDisabled(point, 1 - enabled);
            SetVisible(point, enabled);
            SetViewVisible(point, enabled);
        }
        for (Input* slider : {first ? InBounce1Elasticity : InBounce2Elasticity,
                              first ? InBounce1Roughness : InBounce2Roughness}) {
            SetDisabled(slider, 1 - enabled);
            SetVisible(slider, enabled);
        }
        BounceLineEnabled[first ? 0 : 1] = enabled;
    } else if (in == InResetPosition) {
        // The next request empties the pool and closes both motion-data files.
        if (Pressed(number)) {
            ResetRequested = 1;
            CloseFilesOnReset = 1;
        }
        return;
    } else if (in == InFastForward) {
        if (Pressed(number)) FastForwardRequested = 1;
        return;
    }
    Operator::NotifyChanged(in, value, time);
}
