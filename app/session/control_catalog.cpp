#include "app/session/control_catalog.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "app/io/errors.h"
#include "host/fourcc.h"
#include "host/tags.h"

namespace lumets {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> prev(b.size() + 1), cur(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) prev[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        cur[0] = i;
        for (size_t j = 1; j <= b.size(); ++j)
            cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        std::swap(prev, cur);
    }
    return prev[b.size()];
}

bool TagFlag(const TagList& tags, uint32_t tag) { return tags.Has(tag) && tags.GetLong(tag, 0) != 0; }

// Units and descriptions of every control with a flow key, in page order. The
// numbers come from how the simulation uses each value: positions and speeds are
// measured in picture heights (a picture twice as wide as high spans 2 across),
// time in frames at SlowMotion 1, angles in degrees counter-clockwise from the
// picture's +x axis (90 is up). tests/scripts/control_units.sh measures the main
// ones on recorded particles.
const std::vector<ControlMeaning> kMeanings = {
    {"ResetPosition", "", "Button: removes every particle; the simulation starts afresh at the next frame."},
    {"FastForward", "", "Button: runs RollFrames frames of simulation before the next frame, so it shows a developed system."},
    {"RollFrames", "frames", "How many frames of simulation FastForward runs."},
    {"Birthrate", "particles per frame", "Particles born per frame, times SlowMotion; fractions carry over to the next frame."},
    {"Lifetime", "frames", "Age at which a particle dies: it lives while its age in whole frames is below Lifetime."},
    {"SlowMotion", "frames of simulation per frame", "Simulated time per frame: 1 is normal speed, 0.5 half speed, 0 freezes the particles; halved for field images."},
    {"ApplyBirthImage", "switch", "Draws every particle with the current particle image instead of the image it was born with."},
    {"EnableScale", "switch", "Gives each particle a random size (GeneralSize, SizeVariance) at birth; off, every particle has size 1."},
    {"GeneralSize", "times the particle image's size", "Size of a particle born with EnableScale on, before SizeVariance."},
    {"SizeVariance", "x 0.41 particle image sizes (standard deviation)", "Random spread of the size at birth: up to +/-1.23 x SizeVariance around GeneralSize, bell-shaped with standard deviation 0.41 x SizeVariance; never below 0.1."},
    {"Start", "picture (0..1 across, 0..1 down)", "One end of the line particles are born on, each at a random point of it."},
    {"End", "picture (0..1 across, 0..1 down)", "The other end of the birth line."},
    {"UseBirthSpline", "switch", "Particles are born on BirthSpline instead of the Start-End line."},
    {"BirthSpline", "picture, from its centre (-0.5..0.5)", "Curve particles are born on, each at a random point along it, with UseBirthSpline on."},
    {"Orientation", "degrees, counter-clockwise from right (90 is up)", "Direction particles are launched in."},
    {"Spread", "x 109.2 degrees (standard deviation)", "Random spread of the launch direction around Orientation: bell-shaped with standard deviation 109.2 x Spread degrees, at most +/-327.7 x Spread."},
    {"Speed", "picture heights per frame", "Launch speed."},
    {"SpeedVariance", "x 1.09 Speed (standard deviation)", "Random spread of the launch speed: Speed x (1 + up to +/-3.28 x SpeedVariance), bell-shaped with standard deviation 1.09 x SpeedVariance x Speed."},
    {"Gravity", "1/100 picture height per frame^2", "Constant pull: a particle's speed changes by Gravity / 100 picture heights per frame every frame."},
    {"GravityAngle", "degrees, counter-clockwise from right (270 is down)", "Direction gravity pulls in."},
    {"EnableFade", "switch", "Multiplies each particle's opacity by MergeSpline at its age."},
    {"MergeSpline", "x: age / Lifetime; y: opacity (0..1)", "Opacity over a particle's life, with EnableFade on."},
    {"EnableGrow", "switch", "Scales each particle by GrowSpline at its age, up to MaximumSize."},
    {"GrowSpline", "x: age / Lifetime; y: share of MaximumSize (0..1)", "Size factor over a particle's life, with EnableGrow on; the identity curve grows from 0 to MaximumSize."},
    {"MaximumSize", "times the particle's size", "Size factor that the top of GrowSpline stands for."},
    {"EnableBlur", "switch", "Blurs each particle by BlurSpline at its age, up to MaximumBlur."},
    {"BlurSpline", "x: age / Lifetime; y: share of MaximumBlur (0..1)", "Blur over a particle's life, with EnableBlur on."},
    {"MaximumBlur", "1/10 pixel (Gaussian standard deviation)", "Blur that the top of BlurSpline stands for: 50 is a standard deviation of 5 output pixels."},
    {"Merge", "0 subtractive (covers) .. 1 additive", "How particles meet the background: 1 adds them to it, 0 lays them over it by their alpha."},
    {"BlurQuality", "box passes", "Number of box blurs that make up a particle's Gaussian blur: 1 is cheapest, 3 close to Gaussian."},
    {"ImageStartFrame", "frames", "First frame of the particle image sequence that PreloadShapes captures."},
    {"ImageLastFrame", "frames", "Last frame of the particle image sequence that PreloadShapes captures."},
    {"PreloadShapes", "", "Button: captures the particle images of frames ImageStartFrame..ImageLastFrame into the tool."},
    {"DeletePreloaded", "", "Button: forgets the captured particle images."},
    {"Freeze", "", "Hidden button that does nothing; kept for flows that press it."},
    {"RotationSpeed", "degrees per frame", "How fast each particle turns (without Banking); added to its angle every frame."},
    {"RotationVariance", "x 81.9 degrees per frame", "Random spread of each particle's rotation speed: evenly within +/-81.9 x RotationVariance degrees per frame around RotationSpeed."},
    {"StartingAngle", "degrees", "Angle every particle is born with; with Banking, added to its direction of motion."},
    {"Banking", "switch", "Turns each particle to its direction of motion (plus StartingAngle) instead of rotating it by RotationSpeed."},
    {"Attractor1Enable", "switch", "Turns attractor 1 on."},
    {"Attractor1", "picture (0..1 across, 0..1 down)", "Position of attractor 1."},
    {"Attractor1Strength", "1/1000 picture height^2 per frame^2", "Pull towards attractor 1 (negative: push away): every frame a particle d picture heights away gains Strength / 1000 / d picture heights per frame of speed towards it."},
    {"Attractor2Enable", "switch", "Turns attractor 2 on."},
    {"Attractor2", "picture (0..1 across, 0..1 down)", "Position of attractor 2."},
    {"Attractor2Strength", "1/1000 picture height^2 per frame^2", "Pull towards attractor 2, as Attractor1Strength."},
    {"Bounce1Enable", "switch", "Turns bounce line 1 on."},
    {"Bounce1Elasticity", "share of the speed kept", "Share of its speed a particle keeps when it bounces off line 1: 1 keeps all, 0 stops it, 2 doubles it."},
    {"Bounce1Roughness", "x 0.98 (tilt of the normal)", "Random tilt of line 1 at each bounce: its normal turns by up to atan(0.98 x Roughness), 44.5 degrees at 1."},
    {"Bounce1Start", "picture (0..1 across, 0..1 down)", "Start of bounce line 1."},
    {"Bounce1End", "picture (0..1 across, 0..1 down)", "End of bounce line 1."},
    {"Bounce2Enable", "switch", "Turns bounce line 2 on."},
    {"Bounce2Elasticity", "share of the speed kept", "Share of its speed a particle keeps when it bounces off line 2."},
    {"Bounce2Roughness", "x 0.98 (tilt of the normal)", "Random tilt of line 2 at each bounce, as Bounce1Roughness."},
    {"Bounce2Start", "picture (0..1 across, 0..1 down)", "Start of bounce line 2."},
    {"Bounce2End", "picture (0..1 across, 0..1 down)", "End of bounce line 2."},
    {"Tumble", "x 0.0655 picture heights per frame^2", "Random jitter: every frame a particle's speed changes by a random amount of up to 0.0655 x Tumble picture heights per frame on each axis."},
    {"SaveFile", "file path", "Button: chooses the motion-data file (.lpd) that RecordNow writes."},
    {"RecordStartFrame", "frames", "First frame a recording holds."},
    {"RecordLastFrame", "frames", "Last frame a recording holds."},
    {"RecordNow", "", "Button: records the particles of frames RecordStartFrame..RecordLastFrame into the SaveFile file."},
    {"LoadStartFrame", "frames", "Frame at which a loaded recording starts playing."},
    {"LoadLastFrame", "frames", "Frame at which a loaded recording stops playing."},
    {"LoadSystem", "file path", "Button: loads a motion-data file and plays it instead of simulating."},
    {"Reverse", "switch", "Plays the loaded recording backwards."},
    {"LoadedNotice", "", "Hidden label; no value."},
    {"UnloadSystem", "", "Button: stops playing the loaded recording."},
    {"SystemFile", "file path", "Path of the loaded recording, kept by the tool."},
    {"PathBinding", "switch", "Particles follow PathPolyline over their life instead of moving freely."},
    {"PathPolyline", "picture, from its centre (-0.5..0.5)", "Path the particles follow with PathBinding on."},
    {"PathSpeedVariance", "share of the path speed (0..1)", "Random spread of how fast each particle moves along the path."},
    {"StrictMode", "switch", "Keeps particles on the path, displaced sideways by StrictDeviation and MaximumDeviation."},
    {"StrictDeviation", "x: progress along the path (0..1); y: share of MaximumDeviation", "Sideways displacement from the path along it, in strict mode."},
    {"MaximumDeviation", "x 0.655 picture", "Largest sideways displacement from the path in strict mode: about 0.655 x MaximumDeviation of the picture."},
    {"ColorTinting", "switch", "Tints each particle by the colour curves at its age."},
    {"RedSpline", "x: age / Lifetime; y: red (0..1)", "Red of the tint over a particle's life."},
    {"GreenSpline", "x: age / Lifetime; y: green (0..1)", "Green of the tint over a particle's life."},
    {"BlueSpline", "x: age / Lifetime; y: blue (0..1)", "Blue of the tint over a particle's life."},
    {"EditRed", "switch", "Opens the red curve in the host's curve editor; no effect on the picture."},
    {"EditGreen", "switch", "Opens the green curve in the host's curve editor; no effect on the picture."},
    {"EditBlue", "switch", "Opens the blue curve in the host's curve editor; no effect on the picture."},
    {"ColorMorph", "x: age / Lifetime; y: share of the tint (0..1)", "How far the tint replaces the particle's own colour over its life."},
};

}  // namespace

const std::vector<ControlMeaning>& ControlMeanings() { return kMeanings; }

const ControlMeaning* MeaningOf(const std::string& key) {
    for (const ControlMeaning& m : kMeanings)
        if (key == m.Key) return &m;
    return nullptr;
}

std::string IdText(uint32_t id) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>((id >> (8 * i)) & 0xFF);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += char(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

std::map<uint32_t, std::string> ParseNameTable(const std::string& text) {
    std::map<uint32_t, std::string> names;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        std::istringstream fields(line);
        std::string hex, member;
        fields >> hex >> member;
        bool ok = hex.size() == 8 && !member.empty();
        for (char c : hex) ok = ok && std::isxdigit(static_cast<unsigned char>(c));
        if (!ok)
            throw UserError("the plug-in's control-name table is malformed at line " + std::to_string(number));
        names[uint32_t(std::stoul(hex, nullptr, 16))] = member;
    }
    return names;
}

ControlCatalog::ControlCatalog(const Operator& op, const std::map<uint32_t, std::string>& names) {
    for (Input* in : op.Inputs()) {
        if (in->Page < 0) {
            Images.push_back(in);
            continue;
        }
        ControlInfo info;
        info.In = in;
        info.Id = in->ID;
        info.Type = in->DataType;
        if (auto it = names.find(in->ID); it != names.end()) {
            info.Member = it->second;
            info.Key = info.Member.rfind("In", 0) == 0 ? info.Member.substr(2) : info.Member;
        }
        const TagList& tags = in->CreationTags;
        info.CheckBox = TagFlag(tags, Tags::CheckBoxAttr);
        info.Button = TagFlag(tags, Tags::ButtonAttr) && !info.CheckBox;
        info.Integer = TagFlag(tags, Tags::Integer);
        if (in->DataType == DT_Number) {
            if (tags.Has(Tags::RangeLow)) info.Low = tags.GetDouble(Tags::RangeLow, 0.0);
            if (tags.Has(Tags::RangeHigh)) info.High = tags.GetDouble(Tags::RangeHigh, 0.0);
        }
        List.push_back(std::move(info));
    }
}

const ControlInfo* ControlCatalog::Find(const std::string& key) const {
    if (key.empty()) return nullptr;
    for (const ControlInfo& c : List)
        if (!c.Key.empty() && (c.Key == key || c.Member == key)) return &c;
    for (const ControlInfo& c : List)
        if (!c.Key.empty() && (IdText(c.Id) == key || FourCCText(c.Id) == key)) return &c;
    if (key.size() == 10 && (key.rfind("0x", 0) == 0 || key.rfind("0X", 0) == 0)) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(key.c_str() + 2, &end, 16);
        if (end && *end == '\0')
            for (const ControlInfo& c : List)
                if (!c.Key.empty() && c.Id == uint32_t(v)) return &c;
    }
    return nullptr;
}

std::vector<std::string> ControlCatalog::Nearest(const std::string& key, size_t n) const {
    const std::string k = Lower(key);
    std::vector<std::pair<size_t, std::string>> scored;
    for (const ControlInfo& c : List) {
        if (c.Key.empty()) continue;
        const std::string name = Lower(c.Key);
        size_t d = EditDistance(k, name);
        // A name that contains what was typed (or the other way round) is a near match
        // even when the lengths differ a lot ("Strength" -> "Attractor1Strength").
        if (!k.empty() && (name.find(k) != std::string::npos || k.find(name) != std::string::npos))
            d = std::min<size_t>(d, 1);
        scored.emplace_back(d, c.Key);
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (const auto& s : scored) {
        if (out.size() >= n) break;
        if (std::find(out.begin(), out.end(), s.second) == out.end()) out.push_back(s.second);
    }
    return out;
}

const ControlInfo& ControlCatalog::Require(const std::string& key) const {
    if (const ControlInfo* c = Find(key)) return *c;
    std::string near;
    for (const std::string& s : Nearest(key)) near += (near.empty() ? "" : ", ") + s;
    throw UserError("unknown control \"" + key + "\"" + (near.empty() ? "" : " (nearest: " + near + ")"));
}

Input* ControlCatalog::ImageInput(const std::string& label) const {
    for (Input* in : Images)
        if (in->Label == label) return in;
    return nullptr;
}

}  // namespace lumets
