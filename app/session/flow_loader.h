#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "app/session/control_catalog.h"
#include "app/io/json_text.h"
#include "host/operator.h"

namespace lumets {

// Where an image input's pictures come from.
struct ImageSourceSpec {
    enum class Kind { Solid, File, Shape, Picture } SourceKind = Kind::Solid;
    // Solid background.
    int32_t Width = 640, Height = 360;
    double Color[4] = {0.0, 0.0, 0.0, 1.0};
    double AspectX = 1.0, AspectY = 1.0;
    bool Field = false;
    // Image file or sequence pattern (resolved against the flow's folder).
    std::string Path;
    // Built-in particle shape.
    std::string Shape = "dot";
    int32_t Size = 32;
    // A picture handed over by a host program (every frame gets a copy; copies
    // share its pixels).
    std::shared_ptr<const Image> Picture;
};

struct FlowEvent {
    int64_t Frame = 0;
    std::string Press;
    std::optional<std::string> File;  // resolved against the flow's folder
};

// A parsed flow file. Control values stay JSON here: their meaning depends on the
// tool's inputs, and BindControls gives them their types.
struct FlowFile {
    std::string Name;    // for messages
    std::string Folder;  // relative paths are taken from here
    int64_t First = 0, Last = 0;
    uint32_t Seed = 1;
    ImageSourceSpec Background, Particle;
    Json Controls = Json::object();
    std::vector<FlowEvent> Events;
    std::string Output;  // resolved output pattern, empty when the flow names none
    std::optional<std::vector<uint8_t>> OperatorData;
    Json Raw;  // the file as read (written back by capture)
};

// Parses a flow. Throws UserError: malformed JSON, nesting too deep or a key
// given twice with line and column, or the key whose value is wrong.
FlowFile ParseFlow(const std::string& text, const std::string& name, const std::string& folder);
FlowFile LoadFlowFile(const std::string& path);

// --- control values ---

struct PolyPointValue {
    double X = 0, Y = 0, InX = 0, InY = 0, OutX = 0, OutY = 0;
    bool operator==(const PolyPointValue&) const = default;
};
struct PolyLineValue {
    std::vector<PolyPointValue> Points;
    bool Closed = false;
    bool operator==(const PolyLineValue&) const = default;
};
struct PointValue {
    double X = 0, Y = 0;
    bool operator==(const PointValue&) const = default;
};
using ControlValue = std::variant<double, PointValue, std::string, PolyLineValue, std::vector<uint16_t>>;

// A control's value over time: one key for a constant, several for keyframes.
struct ControlTrack {
    const ControlInfo* Info = nullptr;
    std::string Key;  // as written in the flow
    std::vector<std::pair<double, ControlValue>> Keys;
    bool Animated = false;
    // Linear between keys and held outside them; switches, buttons, texts and
    // values of different shapes (polylines or tables of other lengths) hold the
    // earlier key. Whole-number controls are rounded.
    ControlValue At(double frame) const;
};

// A look-up table of LookUpTable::DefaultCount entries from curve points in 0..1
// (linear between points, held outside them); the identity without points.
std::vector<uint16_t> TabulateCurve(const std::vector<std::pair<double, double>>& points);

// Gives the flow's control values their types from the tool's inputs. Numbers
// outside a control's allowed range are limited to it, with a warning naming the
// control added to warnings. Throws UserError for unknown names (listing the
// nearest ones), values of the wrong kind, and a control set twice.
std::vector<ControlTrack> BindControls(const Json& controls, const ControlCatalog& catalog,
                                       std::vector<std::string>* warnings);

// Turns a --set VALUE into a flow value: a number, an "x,y" point, JSON as in a
// flow file (a value starting with { or [: curves, polylines, points, keyframes;
// malformed JSON is a UserError), or else a text.
Json ParseSetValue(const std::string& text);

// A new host parameter holding the value (one reference for the caller).
Parameter* MakeParameter(const ControlValue& value);

// Changes the relative file paths of a flow's JSON so that they still name the
// same files when the flow is saved in another folder.
void RebaseFlowPaths(Json& flow, const std::string& fromFolder, const std::string& toFolder);

}  // namespace lumets
