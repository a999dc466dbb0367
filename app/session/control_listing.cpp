#include "app/session/control_listing.h"

#include <cstdio>
#include <sstream>

#include "app/io/errors.h"
#include "app/io/json_text.h"
#include "app/session/control_catalog.h"
#include "app/session/session.h"
#include "host/registry.h"
#include "host/tags.h"
#include "operator/control_table.h"

namespace lumets {

std::string ControlsText() {
    Registry& reg = ParticleClass();
    const auto names = ControlNames(reg);
    TagList tags{{Tags::RandomSeed, 1}};
    Operator* op = reg.Create(nullptr, &tags);
    if (!op) throw UserError("the particle plug-in made no tool");
    std::ostringstream out;
    const TagList& rt = reg.RegTagList();
    auto text = [&](uint32_t tag) {
        const auto* s = reinterpret_cast<const char*>(rt.GetPtr(tag, 0));
        return std::string(s ? s : "");
    };
    char classId[16];
    std::snprintf(classId, sizeof classId, "0x%08X", uint32_t(rt.GetLong(RegTags::ClassID, 0)));
    out << reg.ClassId() << ": " << text(RegTags::LongName) << " by " << text(RegTags::Company) << " ("
        << text(RegTags::ShortName) << "), class ID " << classId << "\n  " << text(RegTags::HelpText) << "\n";
    ControlCatalog catalog(*op, names);
    for (size_t page = 0; page < op->Pages().size(); ++page) {
        out << "\nPage " << page + 1 << " \"" << op->Pages()[page].Name << "\"\n";
        for (const ControlInfo& c : catalog.Items()) {
            if (c.In->Page != int(page)) continue;
            const TagList& t = c.In->CreationTags;
            out << "  " << IdText(c.Id) << "  " << (c.Key.empty() ? "-" : c.Key) << "  \"" << c.In->Label << "\"  "
                << IdText(c.Type) << " " << IdText(uint32_t(t.GetLong(Tags::PageControl, 0)));
            if (c.Low || c.High) {
                out << "  range " << (c.Low ? Json(*c.Low).dump() : std::string("..")) << " to "
                    << (c.High ? Json(*c.High).dump() : std::string(".."));
            }
            if (t.Has(Tags::Default)) out << "  default " << t.GetDouble(Tags::Default, 0.0);
            if (t.Has(Tags::DefaultX)) out << "  default (" << t.GetDouble(Tags::DefaultX, 0.0) << ", " << t.GetDouble(Tags::DefaultY, 0.0) << ")";
            if (c.CheckBox) out << "  check box";
            else if (c.Button) out << "  button";
            if (c.Integer) out << "  whole number";
            if (const controls::Control* d = controls::ByKey(c.Key); d && *d->Unit) out << "  [" << d->Unit << "]";
            out << "\n";
        }
    }
    out << "\nImages\n";
    for (Input* in : op->Inputs())
        if (in->Page < 0) out << "  input  \"" << in->Label << "\"  " << IdText(in->ID) << "\n";
    for (Output* o : op->Outputs()) out << "  output \"" << o->Label << "\"  " << IdText(o->ID) << "\n";
    op->Recycle();
    return out.str();
}

std::string ControlsJson() {
    Registry& reg = ParticleClass();
    const auto names = ControlNames(reg);
    TagList tags{{Tags::RandomSeed, 1}};
    Operator* op = reg.Create(nullptr, &tags);
    if (!op) throw UserError("the particle plug-in made no tool");

    auto textOf = [](intptr_t p) {
        const auto* s = reinterpret_cast<const char*>(p);
        return std::string(s ? s : "");
    };
    Json j;
    j["registry"]["classId"] = reg.ClassId();
    Json regTags = Json::array();
    for (const TagItem& t : reg.RegTagList().Items) {
        Json value;
        if (t.IsDouble())
            value = t.Double;
        else if (t.Tag == RegTags::LongName || t.Tag == RegTags::Company || t.Tag == RegTags::ShortName ||
                 t.Tag == RegTags::HelpText)
            value = textOf(t.Long);
        else if (t.Tag == RegTags::Init || t.Tag == RegTags::Cleanup || t.Tag == RegTags::Factory)
            value = "(function)";
        else
            value = uint32_t(t.Long);
        regTags.push_back(Json::array({t.Tag, value}));
    }
    j["registry"]["tags"] = regTags;

    auto memberOf = [&](uint32_t id) -> Json {
        auto it = names.find(id);
        return it == names.end() ? Json(nullptr) : Json(it->second);
    };
    Json pages = Json::array();
    for (size_t page = 0; page < op->Pages().size(); ++page) {
        Json p;
        p["name"] = op->Pages()[page].Name;
        p["inputs"] = Json::array();
        for (Input* in : op->Inputs()) {
            if (in->Page != int(page)) continue;
            const TagList& t = in->CreationTags;
            Json i;
            i["label"] = in->Label;
            i["member"] = memberOf(in->ID);
            i["id"] = in->ID;
            i["idText"] = IdText(in->ID);
            i["type"] = IdText(in->DataType);
            i["control"] = t.Has(Tags::PageControl) ? Json(IdText(uint32_t(t.GetLong(Tags::PageControl, 0)))) : Json(nullptr);
            i["viewControl"] = t.Has(Tags::ViewControl) ? Json(IdText(uint32_t(t.GetLong(Tags::ViewControl, 0)))) : Json(nullptr);
            Json list = Json::array();
            for (const TagItem& item : t.Items) {
                Json value;
                if (item.IsDouble()) {
                    value = item.Double;
                } else if (item.Tag == Tags::DefaultText || item.Tag == Tags::PolyLineName) {
                    value = textOf(item.Long);
                } else if (item.Tag == Tags::PointPair && item.Long != 2) {
                    // The second point of a pair names the first point's input: shown as its ID.
                    value = nullptr;
                    for (Input* other : op->Inputs())
                        if (reinterpret_cast<intptr_t>(other) == item.Long) value = other->ID;
                } else {
                    value = uint32_t(item.Long);
                }
                list.push_back(Json::array({item.Tag, value}));
            }
            i["tags"] = list;
            // Named fields for people and tools; the raw tags above stay as they are.
            const Json member = memberOf(in->ID);
            std::string key;
            if (member.is_string()) {
                key = member.get<std::string>();
                if (key.rfind("In", 0) == 0) key = key.substr(2);
            }
            i["key"] = key.empty() ? Json(nullptr) : Json(key);
            i["page"] = p["name"];
            const bool number = in->DataType == DT_Number;
            i["min"] = number && t.Has(Tags::RangeLow) ? Json(t.GetDouble(Tags::RangeLow, 0.0)) : Json(nullptr);
            i["max"] = number && t.Has(Tags::RangeHigh) ? Json(t.GetDouble(Tags::RangeHigh, 0.0)) : Json(nullptr);
            if (t.Has(Tags::Default))
                i["default"] = t.GetDouble(Tags::Default, 0.0);
            else if (t.Has(Tags::DefaultX))
                i["default"] = Json::array({t.GetDouble(Tags::DefaultX, 0.0), t.GetDouble(Tags::DefaultY, 0.0)});
            else
                i["default"] = nullptr;
            i["scaleLow"] = number && t.Has(Tags::ScaleLow) ? Json(t.GetDouble(Tags::ScaleLow, 0.0)) : Json(nullptr);
            i["scaleHigh"] = number && t.Has(Tags::ScaleHigh) ? Json(t.GetDouble(Tags::ScaleHigh, 0.0)) : Json(nullptr);
            i["integer"] = t.Has(Tags::Integer) && t.GetLong(Tags::Integer, 0) != 0;
            const controls::Control* def = controls::ByKey(key);
            i["unit"] = def ? Json(def->Unit) : Json(nullptr);
            i["description"] = def ? Json(def->Meaning) : Json(nullptr);
            i["frei0r"] = def && def->Frei0r;
            p["inputs"].push_back(i);
        }
        pages.push_back(p);
    }
    j["pages"] = pages;
    Json images = Json::array();
    for (Input* in : op->Inputs())
        if (in->Page < 0)
            images.push_back(Json{{"kind", "input"}, {"label", in->Label}, {"member", memberOf(in->ID)}, {"id", in->ID}, {"type", IdText(in->DataType)}});
    for (Output* o : op->Outputs()) {
        Json m = memberOf(o->ID);
        if (m.is_null() && op->Outputs().size() == 1) m = "OutImage";
        images.push_back(Json{{"kind", "output"}, {"label", o->Label}, {"member", m}, {"id", o->ID}, {"type", IdText(o->DataType)}});
    }
    j["images"] = images;
    op->Recycle();
    return j.dump() + "\n";
}

}  // namespace lumets
