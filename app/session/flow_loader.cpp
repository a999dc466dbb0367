#include "app/session/flow_loader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/io/base64.h"
#include "app/session/builtin_shapes.h"
#include "app/io/errors.h"
#include "app/io/input_files.h"
#include "app/io/names.h"
#include "host/parameters.h"

namespace fs = std::filesystem;

namespace lumets {

namespace {

const std::vector<std::string> TopLevelKeys = {"flow",   "frames", "seed",   "background",  "particle",
                                               "controls", "events", "output", "operatorData"};

std::string Resolve(const std::string& folder, const std::string& path) {
    if (path.empty() || folder.empty() || fs::path(path).is_absolute()) return path;
    return (fs::path(folder) / path).lexically_normal().string();
}

std::string Describe(const Json& v) {
    std::string s = v.dump();
    if (s.size() > 40) s = s.substr(0, 37) + "...";
    return s;
}

double NumberOf(const Json& v, const std::string& what) {
    if (v.is_boolean()) return v.get<bool>() ? 1.0 : 0.0;
    if (!v.is_number()) throw UserError(what + " must be a number, not " + Describe(v));
    return v.get<double>();
}

int64_t WholeNumberOf(const Json& v, const std::string& what, int64_t low, int64_t high) {
    const double d = NumberOf(v, what);
    if (d != std::floor(d) || d < double(low) || d > double(high))
        throw UserError(what + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                        ", not " + Describe(v));
    return int64_t(d);
}

std::pair<double, double> PairOf(const Json& v, const std::string& what) {
    if (!v.is_array() || v.size() != 2 || !v[0].is_number() || !v[1].is_number())
        throw UserError(what + " must be a pair [a, b] of numbers, not " + Describe(v));
    return {v[0].get<double>(), v[1].get<double>()};
}

std::string NearestOf(const std::string& key, const std::vector<std::string>& names) {
    std::string best;
    size_t bestD = SIZE_MAX;
    for (const std::string& n : names) {
        const size_t d = EditDistance(key, n);
        if (d < bestD) {
            bestD = d;
            best = n;
        }
    }
    return best;
}

ImageSourceSpec ParseBackground(const Json& v, const std::string& folder) {
    ImageSourceSpec s;
    if (v.is_string()) {
        s.SourceKind = ImageSourceSpec::Kind::File;
        s.Path = Resolve(folder, v.get<std::string>());
        if (s.Path.empty()) throw UserError("\"background\" names no file");
        return s;
    }
    if (!v.is_object()) throw UserError("\"background\" must be an object or an image path, not " + Describe(v));
    for (const auto& [k, value] : v.items()) {
        if (k == "width") {
            s.Width = int32_t(WholeNumberOf(value, "\"background\" width", 1, 16384));
        } else if (k == "height") {
            s.Height = int32_t(WholeNumberOf(value, "\"background\" height", 1, 16384));
        } else if (k == "color") {
            if (!value.is_array() || (value.size() != 3 && value.size() != 4))
                throw UserError("\"background\" color must be [r, g, b] or [r, g, b, a] in 0..1, not " +
                                Describe(value));
            for (size_t i = 0; i < value.size(); ++i) {
                const double c = NumberOf(value[i], "\"background\" color component");
                if (c < 0.0 || c > 1.0)
                    throw UserError("\"background\" color components must lie in 0..1, not " + Describe(value[i]));
                s.Color[i] = c;
            }
        } else if (k == "pixelAspect") {
            auto [ax, ay] = PairOf(value, "\"background\" pixelAspect");
            if (!(ax > 0.0) || !(ay > 0.0) || !std::isfinite(ax) || !std::isfinite(ay))
                throw UserError("\"background\" pixelAspect values must be positive");
            s.AspectX = ax;
            s.AspectY = ay;
        } else if (k == "field") {
            if (!value.is_boolean()) throw UserError("\"background\" field must be true or false");
            s.Field = value.get<bool>();
        } else if (k == "file") {
            if (!value.is_string()) throw UserError("\"background\" file must be a path");
            s.SourceKind = ImageSourceSpec::Kind::File;
            s.Path = Resolve(folder, value.get<std::string>());
        } else {
            throw UserError("unknown key \"" + Shown(k) + "\" in \"background\" (nearest: " +
                            NearestOf(k, {"width", "height", "color", "pixelAspect", "field", "file"}) + ")");
        }
    }
    if (int64_t(s.Width) * s.Height > (int64_t(1) << 26))
        throw UserError("\"background\" of " + std::to_string(s.Width) + "x" + std::to_string(s.Height) +
                        " is too large");
    return s;
}

ImageSourceSpec ParseParticle(const Json& v, const std::string& folder) {
    ImageSourceSpec s;
    s.SourceKind = ImageSourceSpec::Kind::Shape;
    if (v.is_string()) {
        s.SourceKind = ImageSourceSpec::Kind::File;
        s.Path = Resolve(folder, v.get<std::string>());
        if (s.Path.empty()) throw UserError("\"particle\" names no file");
        return s;
    }
    if (!v.is_object()) throw UserError("\"particle\" must be an object or an image path, not " + Describe(v));
    for (const auto& [k, value] : v.items()) {
        if (k == "shape") {
            if (!value.is_string()) throw UserError("\"particle\" shape must be a name");
            s.Shape = value.get<std::string>();
            if (!IsBuiltinShape(s.Shape)) {
                std::string list;
                for (const auto& n : BuiltinShapeNames()) list += (list.empty() ? "" : ", ") + n;
                throw UserError("unknown particle shape \"" + Shown(s.Shape) + "\" (built-in shapes: " + list + ")");
            }
        } else if (k == "size") {
            s.Size = int32_t(WholeNumberOf(value, "\"particle\" size", 1, 4096));
        } else if (k == "file") {
            if (!value.is_string()) throw UserError("\"particle\" file must be a path");
            s.SourceKind = ImageSourceSpec::Kind::File;
            s.Path = Resolve(folder, value.get<std::string>());
        } else {
            throw UserError("unknown key \"" + Shown(k) + "\" in \"particle\" (nearest: " +
                            NearestOf(k, {"shape", "size", "file"}) + ")");
        }
    }
    return s;
}

}  // namespace

FlowFile ParseFlow(const std::string& text, const std::string& name, const std::string& folder) {
    FlowFile flow;
    flow.Name = name;
    flow.Folder = folder;
    flow.Raw = ParseJsonText(text, name);
    const Json& j = flow.Raw;
    if (!j.is_object()) throw UserError(name + ": a flow file holds one JSON object");
    try {
        for (const auto& [k, v] : j.items()) {
            (void)v;
            if (std::find(TopLevelKeys.begin(), TopLevelKeys.end(), k) == TopLevelKeys.end() && k.rfind("_", 0) != 0 &&
                k != "comment")
                throw UserError("unknown key \"" + Shown(k) + "\" (nearest: " + NearestOf(k, TopLevelKeys) + ")");
        }
        if (!j.contains("flow")) throw UserError("not a lumets flow (no \"flow\": 1)");
        if (!j["flow"].is_number_integer() || j["flow"].get<int64_t>() != 1)
            throw UserError("unsupported flow version " + Describe(j["flow"]) + " (this lumets reads \"flow\": 1)");
        if (!j.contains("frames")) throw UserError("missing \"frames\": [first, last]");
        {
            const Json& f = j["frames"];
            if (!f.is_array() || f.size() != 2)
                throw UserError("\"frames\" must be [first, last], not " + Describe(f));
            flow.First = WholeNumberOf(f[0], "\"frames\" first", -1000000, 1000000);
            flow.Last = WholeNumberOf(f[1], "\"frames\" last", -1000000, 1000000);
            if (flow.Last < flow.First)
                throw UserError("\"frames\" last frame " + std::to_string(flow.Last) + " is before the first " +
                                std::to_string(flow.First));
        }
        if (j.contains("seed")) flow.Seed = uint32_t(WholeNumberOf(j["seed"], "\"seed\"", 0, 4294967295LL));
        if (j.contains("background")) flow.Background = ParseBackground(j["background"], folder);
        flow.Particle.SourceKind = ImageSourceSpec::Kind::Shape;
        if (j.contains("particle")) flow.Particle = ParseParticle(j["particle"], folder);
        if (j.contains("controls")) {
            if (!j["controls"].is_object()) throw UserError("\"controls\" must be an object of name: value");
            flow.Controls = j["controls"];
        }
        if (j.contains("events")) {
            const Json& ev = j["events"];
            if (!ev.is_array()) throw UserError("\"events\" must be a list of {\"frame\", \"press\", \"file\"}");
            for (const Json& e : ev) {
                if (!e.is_object() || !e.contains("frame") || !e.contains("press"))
                    throw UserError("each event needs \"frame\" and \"press\", not " + Describe(e));
                FlowEvent event;
                for (const auto& [k, v] : e.items()) {
                    if (k == "frame") {
                        event.Frame = WholeNumberOf(v, "event \"frame\"", -1000000, 1000000);
                    } else if (k == "press") {
                        if (!v.is_string()) throw UserError("event \"press\" must be a control name");
                        event.Press = v.get<std::string>();
                    } else if (k == "file") {
                        if (!v.is_string()) throw UserError("event \"file\" must be a path");
                        event.File = Resolve(folder, v.get<std::string>());
                    } else {
                        throw UserError("unknown key \"" + Shown(k) + "\" in an event (nearest: " +
                                        NearestOf(k, {"frame", "press", "file"}) + ")");
                    }
                }
                if (event.Frame < flow.First || event.Frame > flow.Last)
                    throw UserError("event at frame " + std::to_string(event.Frame) + " lies outside \"frames\" " +
                                    std::to_string(flow.First) + "-" + std::to_string(flow.Last));
                flow.Events.push_back(std::move(event));
            }
        }
        if (j.contains("output")) {
            if (!j["output"].is_string()) throw UserError("\"output\" must be a file name pattern");
            flow.Output = Resolve(folder, j["output"].get<std::string>());
        }
        if (j.contains("operatorData")) {
            if (!j["operatorData"].is_string()) throw UserError("\"operatorData\" must be base64 text");
            auto bytes = DecodeBase64(j["operatorData"].get<std::string>());
            if (!bytes) throw UserError("\"operatorData\" is not valid base64");
            flow.OperatorData = std::move(*bytes);
        }
    } catch (const UserError& e) {
        throw UserError(name + ": " + e.what());
    }
    return flow;
}

FlowFile LoadFlowFile(const std::string& path) {
    // A flow's size is mostly its operator data (captured shapes among it).
    constexpr uint64_t MaxFlowFileBytes = uint64_t(256) << 20;
    const std::string text = ReadInputFile(path, MaxFlowFileBytes, "flow file");
    return ParseFlow(text, path, fs::path(path).parent_path().string());
}

// --- control values ---

std::vector<uint16_t> TabulateCurve(const std::vector<std::pair<double, double>>& points) {
    const int n = LookUpTable::DefaultCount;
    std::vector<uint16_t> table(static_cast<size_t>(n));
    if (points.empty()) return LookUpTable().Table;
    for (int i = 0; i < n; ++i) {
        const double x = double(i) / double(n - 1);
        double y;
        if (x <= points.front().first) {
            y = points.front().second;
        } else if (x >= points.back().first) {
            y = points.back().second;
        } else {
            size_t k = 0;
            while (k + 1 < points.size() && points[k + 1].first < x) ++k;
            const auto [x0, y0] = points[k];
            const auto [x1, y1] = points[k + 1];
            y = x1 > x0 ? y0 + (y1 - y0) * (x - x0) / (x1 - x0) : y1;
        }
        table[size_t(i)] = uint16_t(std::lround(std::clamp(y, 0.0, 1.0) * 65535.0));
    }
    return table;
}

namespace {

template <class T>
T Lerp(T a, T b, double f) {
    return a + (b - a) * f;
}

ControlValue Interpolate(const ControlValue& a, const ControlValue& b, double f, const ControlInfo& info) {
    if (a.index() != b.index()) return a;
    if (const double* x = std::get_if<double>(&a)) {
        if (info.CheckBox || info.Button) return a;
        double v = Lerp(*x, std::get<double>(b), f);
        if (info.Integer) v = std::round(v);
        return v;
    }
    if (const PointValue* p = std::get_if<PointValue>(&a)) {
        const PointValue& q = std::get<PointValue>(b);
        return PointValue{Lerp(p->X, q.X, f), Lerp(p->Y, q.Y, f)};
    }
    if (const PolyLineValue* p = std::get_if<PolyLineValue>(&a)) {
        const PolyLineValue& q = std::get<PolyLineValue>(b);
        if (p->Points.size() != q.Points.size() || p->Closed != q.Closed) return a;
        PolyLineValue r = *p;
        for (size_t i = 0; i < r.Points.size(); ++i) {
            const PolyPointValue &s = p->Points[i], &t = q.Points[i];
            r.Points[i] = PolyPointValue{Lerp(s.X, t.X, f),     Lerp(s.Y, t.Y, f),     Lerp(s.InX, t.InX, f),
                                         Lerp(s.InY, t.InY, f), Lerp(s.OutX, t.OutX, f), Lerp(s.OutY, t.OutY, f)};
        }
        return r;
    }
    if (const auto* ta = std::get_if<std::vector<uint16_t>>(&a)) {
        const auto& tb = std::get<std::vector<uint16_t>>(b);
        if (ta->size() != tb.size()) return a;
        std::vector<uint16_t> r(ta->size());
        for (size_t i = 0; i < r.size(); ++i)
            r[i] = uint16_t(std::lround(std::clamp(Lerp(double((*ta)[i]), double(tb[i]), f), 0.0, 65535.0)));
        return r;
    }
    return a;  // texts hold
}

std::string Quoted(const std::string& key) { return "control \"" + key + "\""; }

std::pair<double, double> HandleOf(const Json& p, const char* name, const std::string& what) {
    if (!p.contains(name)) return {0.0, 0.0};
    return PairOf(p[name], what + " handle \"" + name + "\"");
}

ControlValue ValueOf(const Json& v, const ControlInfo& info, const std::string& key,
                     std::vector<std::string>* warnings) {
    const std::string what = Quoted(key);
    switch (info.Type) {
    case DT_Number: {
        double d = NumberOf(v, what);
        if (info.Low && d < *info.Low) {
            if (warnings)
                warnings->push_back(what + ": " + Describe(v) + " is below the allowed minimum; limited to " +
                                    Describe(Json(*info.Low)));
            d = *info.Low;
        }
        if (info.High && d > *info.High) {
            if (warnings)
                warnings->push_back(what + ": " + Describe(v) + " is above the allowed maximum; limited to " +
                                    Describe(Json(*info.High)));
            d = *info.High;
        }
        return d;
    }
    case DT_Point: {
        auto [x, y] = PairOf(v, what + " (a point)");
        return PointValue{x, y};
    }
    case DT_Text:
        if (!v.is_string()) throw UserError(what + " must be a text, not " + Describe(v));
        return v.get<std::string>();
    case DT_PolyLine: {
        if (!v.is_object()) throw UserError(what + " must be a polyline {\"points\": [...], \"closed\": false}");
        PolyLineValue line;
        for (const auto& [k, value] : v.items()) {
            if (k == "closed") {
                if (!value.is_boolean()) throw UserError(what + ": \"closed\" must be true or false");
                line.Closed = value.get<bool>();
            } else if (k == "points") {
                if (!value.is_array()) throw UserError(what + ": \"points\" must be a list of points");
                for (const Json& p : value) {
                    PolyPointValue pt;
                    if (p.is_array()) {
                        std::tie(pt.X, pt.Y) = PairOf(p, what + " point");
                    } else if (p.is_object() && p.contains("x") && p.contains("y")) {
                        for (const auto& [pk, pv] : p.items())
                            if (pk != "x" && pk != "y" && pk != "in" && pk != "out")
                                throw UserError(what + ": unknown key \"" + Shown(pk) + "\" in a point (x, y, in, out)");
                        pt.X = NumberOf(p["x"], what + " point x");
                        pt.Y = NumberOf(p["y"], what + " point y");
                        std::tie(pt.InX, pt.InY) = HandleOf(p, "in", what);
                        std::tie(pt.OutX, pt.OutY) = HandleOf(p, "out", what);
                    } else {
                        throw UserError(what + ": a point is {\"x\", \"y\", \"in\", \"out\"}, not " + Describe(p));
                    }
                    line.Points.push_back(pt);
                }
            } else {
                throw UserError(what + ": unknown key \"" + Shown(k) + "\" (a polyline has \"points\" and \"closed\")");
            }
        }
        return line;
    }
    case DT_LookUpTable: {
        if (!v.is_object())
            throw UserError(what + " must be a curve {\"points\": [[x, y], ...]} or {\"table\": [...]}");
        if (v.contains("table") && v.contains("points"))
            throw UserError(what + ": give either \"table\" or \"points\", not both");
        for (const auto& [k, value] : v.items()) {
            (void)value;
            if (k != "table" && k != "points")
                throw UserError(what + ": unknown key \"" + Shown(k) + "\" (a curve has \"points\" or \"table\")");
        }
        if (v.contains("table")) {
            const Json& t = v["table"];
            if (!t.is_array() || t.size() < 2 || t.size() > 65536)
                throw UserError(what + ": \"table\" must list 2 to 65536 entries");
            std::vector<uint16_t> table;
            for (const Json& e : t) table.push_back(uint16_t(WholeNumberOf(e, what + " table entry", 0, 65535)));
            return table;
        }
        std::vector<std::pair<double, double>> points;
        if (v.contains("points")) {
            const Json& pts = v["points"];
            if (!pts.is_array()) throw UserError(what + ": \"points\" must be a list of [x, y] in 0..1");
            for (const Json& p : pts) {
                auto xy = PairOf(p, what + " curve point");
                if (xy.first < 0 || xy.first > 1 || xy.second < 0 || xy.second > 1)
                    throw UserError(what + ": curve point " + Describe(p) + " lies outside 0..1");
                if (!points.empty() && xy.first <= points.back().first)
                    throw UserError(what + ": curve points must have increasing x");
                points.push_back(xy);
            }
        }
        return TabulateCurve(points);
    }
    default:
        throw UserError(what + " is an image input; images come from \"background\" and \"particle\"");
    }
}

}  // namespace

ControlValue ControlTrack::At(double frame) const {
    if (Keys.size() == 1 || frame <= Keys.front().first) return Keys.front().second;
    if (frame >= Keys.back().first) return Keys.back().second;
    size_t k = 0;
    while (k + 1 < Keys.size() && Keys[k + 1].first <= frame) ++k;
    const auto& [t0, v0] = Keys[k];
    const auto& [t1, v1] = Keys[k + 1];
    if (frame == t0) return v0;
    return Interpolate(v0, v1, (frame - t0) / (t1 - t0), *Info);
}

std::vector<ControlTrack> BindControls(const Json& controls, const ControlCatalog& catalog,
                                       std::vector<std::string>* warnings) {
    std::vector<ControlTrack> tracks;
    if (controls.is_null()) return tracks;
    if (!controls.is_object()) throw UserError("\"controls\" must be an object of name: value");
    for (const auto& [key, value] : controls.items()) {
        const ControlInfo& info = catalog.Require(key);
        for (const ControlTrack& t : tracks)
            if (t.Info == &info)
                throw UserError("control \"" + key + "\" is set twice (also as \"" + t.Key + "\")");
        ControlTrack track;
        track.Info = &info;
        track.Key = key;
        if (value.is_object() && value.contains("keys")) {
            if (value.size() != 1) throw UserError(Quoted(key) + ": a keyframed value holds only \"keys\"");
            const Json& keys = value["keys"];
            if (!keys.is_array() || keys.empty())
                throw UserError(Quoted(key) + ": \"keys\" must be a list of [frame, value]");
            const Json* previous = nullptr;
            for (const Json& k : keys) {
                if (!k.is_array() || k.size() != 2 || !k[0].is_number())
                    throw UserError(Quoted(key) + ": each key is [frame, value], not " + Describe(k));
                const double frame = k[0].get<double>();
                // Keys are listed by frame: one out of place is most likely a typing
                // slip, and sorting it silently would animate something else.
                if (previous && frame == track.Keys.back().first)
                    throw UserError(Quoted(key) + ": two keys at frame " + Describe(k[0]));
                if (previous && frame < track.Keys.back().first)
                    throw UserError(Quoted(key) + ": keys must be in increasing frame order (frame " + Describe(k[0]) +
                                    " comes after frame " + Describe(*previous) + ")");
                track.Keys.emplace_back(frame, ValueOf(k[1], info, key, warnings));
                previous = &k[0];
            }
            track.Animated = track.Keys.size() > 1;
        } else {
            track.Keys.emplace_back(0.0, ValueOf(value, info, key, warnings));
        }
        tracks.push_back(std::move(track));
    }
    return tracks;
}

Json ParseSetValue(const std::string& text) {
    auto number = [](const std::string& s, double* out) {
        if (s.empty()) return false;
        char* end = nullptr;
        const double v = std::strtod(s.c_str(), &end);
        if (!end || *end != '\0' || !std::isfinite(v)) return false;
        *out = v;
        return true;
    };
    double v;
    if (number(text, &v)) return v;
    // Curves, polylines, points and keyframes are given as in a flow file, in JSON.
    const size_t lead = text.find_first_not_of(" \t");
    if (lead != std::string::npos && (text[lead] == '{' || text[lead] == '[')) {
        // Read with the same bounds as a flow: nesting depth, repeated keys.
        return ParseJsonText(text, "--set value " + Describe(Json(text)));
    }
    if (const size_t comma = text.find(','); comma != std::string::npos) {
        double x, y;
        if (number(text.substr(0, comma), &x) && number(text.substr(comma + 1), &y)) return Json::array({x, y});
    }
    return text;
}

Parameter* MakeParameter(const ControlValue& value) {
    if (const double* d = std::get_if<double>(&value)) return new Number(*d);
    if (const PointValue* p = std::get_if<PointValue>(&value)) return new Point(p->X, p->Y);
    if (const std::string* s = std::get_if<std::string>(&value)) return new Text(*s);
    if (const PolyLineValue* l = std::get_if<PolyLineValue>(&value)) {
        std::vector<PolyPoint> points;
        for (const PolyPointValue& p : l->Points) {
            PolyPoint q;
            q.X = float(p.X);
            q.Y = float(p.Y);
            q.InDX = p.InX;
            q.InDY = p.InY;
            q.OutDX = p.OutX;
            q.OutDY = p.OutY;
            points.push_back(q);
        }
        return new PolyLine(std::move(points), l->Closed);
    }
    return new LookUpTable(std::get<std::vector<uint16_t>>(value));
}

void RebaseFlowPaths(Json& flow, const std::string& fromFolder, const std::string& toFolder) {
    const fs::path from = fs::absolute(fromFolder.empty() ? "." : fromFolder).lexically_normal();
    const fs::path to = fs::absolute(toFolder.empty() ? "." : toFolder).lexically_normal();
    if (from == to) return;
    auto rebase = [&](Json& v) {
        if (!v.is_string()) return;
        const fs::path p(v.get<std::string>());
        if (p.empty() || p.is_absolute()) return;
        v = (from / p).lexically_normal().lexically_relative(to).string();
    };
    if (flow.contains("background")) {
        rebase(flow["background"]);
        if (flow["background"].is_object() && flow["background"].contains("file")) rebase(flow["background"]["file"]);
    }
    if (flow.contains("particle")) {
        rebase(flow["particle"]);
        if (flow["particle"].is_object() && flow["particle"].contains("file")) rebase(flow["particle"]["file"]);
    }
    if (flow.contains("output")) rebase(flow["output"]);
    if (flow.contains("events") && flow["events"].is_array())
        for (Json& e : flow["events"])
            if (e.is_object() && e.contains("file")) rebase(e["file"]);
}

}  // namespace lumets
