#pragma once
#include <cstdint>
#include <functional>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/tags.h"

// The tool's controls as plain data: what the host shows (pages, labels, IDs,
// types, creation tags), the key a flow names each control by, and what its value
// means. The tool creates its inputs from it; the command-line host, the preview
// page, the frei0r filter and the docs read it without making a tool.
namespace controls {

// The class name the tool registers under and hosts look it up by.
inline constexpr const char* ClassName = "SamplePlugIn";

// The pages, in the order the host shows them: the tool's nine, then lumets' own
// "Motion" page (motion blur, turbulence and wind).
inline constexpr const char* PageNames[] = {"Setup",    "Forces",    "Behavior", "Image", "Rotation",
                                            "Modifiers", "Load/Save", "Path",     "Color", "Motion"};
inline constexpr int PageCount = int(std::size(PageNames));

// The output: its label, ID and the name the name resource lists it under.
inline constexpr const char* OutputLabel = "Image";
inline constexpr uint32_t OutputId = 0x017475CF;
inline constexpr const char* OutputName = "OutImage";

// A creation tag beyond the common ones: a number (32-bit or double, by the tag),
// a text, or the input with the given ID (the second point of a pair names the first).
struct ExtraTag {
    enum class Kind : uint8_t { Number, Text, InputId };
    uint32_t Tag = 0;
    Kind Is = Kind::Number;
    double Number = 0.0;
    const char* Text = nullptr;
};

// One input. Its creation tags are, in this order: page control, view control,
// range, slider scale, default, then the extra tags. Absent fields add no tag.
struct Control {
    uint32_t Id = 0;
    int Page = -1;            // index into PageNames; -1 for the image inputs
    const char* Label = "";   // the tool's own text, typos included
    const char* Key = "";     // the flow key; empty for captions and spacers (no value)
    uint32_t Type = 0;        // data type (DT_Number, DT_Point, ...)
    uint32_t PageControl = 0; // the control the page shows; 0 for the image inputs
    uint32_t ViewControl = 0; // the control drawn over the view; 0 for none
    std::optional<double> Low, High;            // allowed range
    std::optional<double> ScaleLow, ScaleHigh;  // the slider's span
    std::optional<double> Default;              // a number's default
    std::optional<double> DefaultX, DefaultY;   // a point's default
    const char* DefaultText = nullptr;          // a text field's default
    std::vector<ExtraTag> Extra;
    const char* Unit = "";     // what the value's number is in
    const char* Meaning = "";  // one sentence for a person writing a flow
    bool Frei0r = false;       // the frei0r filter offers it as a parameter

    bool HasValue() const { return *Key != '\0'; }
    // The name the name resource lists the input under: the key with "In" before it.
    std::string ResourceName() const { return std::string("In") + Key; }
};

// Every input in creation order: the page controls page by page, then the two
// image inputs (particle image first).
std::span<const Control> All();

// The input with the given flow key, or null.
const Control* ByKey(const std::string& key);

// The input's creation tags in order. Texts point into the table; a tag that
// names another input gets inputById(that input's ID).
std::vector<TagItem> CreationTags(const Control& c, const std::function<const void*(uint32_t)>& inputById);

// The name resource: one line per input with a key and for the output,
// "<ID as 8 hex digits> <name>\n", in creation order.
std::string NameResourceText();
// Appends one line of the name resource: "<id as 8 hex digits> <name>\n".
void AppendNameLine(std::string& text, uint32_t id, const std::string& name);

}  // namespace controls
