#include "app/session/control_catalog.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "app/io/errors.h"
#include "app/io/names.h"
#include "host/fourcc.h"
#include "host/tags.h"

namespace lumets {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool TagFlag(const TagList& tags, uint32_t tag) { return tags.Has(tag) && tags.GetLong(tag, 0) != 0; }

}  // namespace

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
    throw UserError("unknown control \"" + Shown(key) + "\"" + (near.empty() ? "" : " (nearest: " + near + ")"));
}

Input* ControlCatalog::ImageInput(const std::string& label) const {
    for (Input* in : Images)
        if (in->Label == label) return in;
    return nullptr;
}

}  // namespace lumets
