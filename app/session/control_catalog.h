#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/operator.h"

namespace lumets {

// One input of the tool as the host sees it, with the name a flow file uses for it.
struct ControlInfo {
    Input* In = nullptr;
    std::string Member;  // "InBirthrate", as the name table lists it; empty for inputs it does not list
    std::string Key;     // the flow key: the listed name without its "In" prefix
    uint32_t Id = 0;
    uint32_t Type = 0;
    bool Button = false;    // push button (carries the button attribute, not a check box)
    bool CheckBox = false;  // check box: a switch, keyframes hold
    bool Integer = false;   // whole-number control
    std::optional<double> Low, High;  // allowed range of a number
};

// The four-character text of an ID for display; bytes outside printable ASCII
// are written as \xNN.
std::string IdText(uint32_t id);

// Reads the plug-in's control-name table: one line per stored input,
// "<8 hex digit id> <MemberName>"; blank lines and lines starting with '#' are
// skipped. Throws UserError for a malformed line.
std::map<uint32_t, std::string> ParseNameTable(const std::string& text);

// The tool's inputs, found by flow key ("Birthrate"), member name ("InBirthrate"),
// four-character ID ("Nmbr") or hexadecimal ID ("0x72626D4E").
class ControlCatalog {
public:
    ControlCatalog() = default;
    ControlCatalog(const Operator& op, const std::map<uint32_t, std::string>& names);

    const ControlInfo* Find(const std::string& key) const;
    // Like Find, but throws UserError naming the nearest keys when there is no match.
    const ControlInfo& Require(const std::string& key) const;
    // Up to n flow keys closest to the given name (edit distance, case-insensitive).
    std::vector<std::string> Nearest(const std::string& key, size_t n = 3) const;
    // The input with the given label among the image inputs (page -1), or null.
    Input* ImageInput(const std::string& label) const;
    const std::vector<ControlInfo>& Items() const { return List; }

private:
    std::vector<ControlInfo> List;
    std::vector<Input*> Images;
};

}  // namespace lumets
