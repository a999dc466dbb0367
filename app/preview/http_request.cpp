#include "app/preview/http_request.h"

#include <algorithm>
#include <cstdio>

namespace lumets {

namespace {

constexpr size_t MaxHeaderLines = 100;

// Headers whose value decides how the request is read or whether it is served:
// a second copy could mean something else to us than to a proxy or browser.
constexpr std::string_view SingleHeaders[] = {"host",          "content-length", "transfer-encoding",
                                              "content-type",  "origin",         "sec-fetch-site",
                                              "x-lumets-token", "expect"};

bool IsTokenChar(unsigned char c) {
    if (c >= '0' && c <= '9') return true;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(char(c)) != std::string_view::npos;
}
bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
    return -1;
}

// Decodes %XX escapes (and '+' as a space in query parts). Refuses bad escapes
// and control characters, escaped or not.
std::optional<std::string> Decode(std::string_view s, bool plusIsSpace) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '%') {
            if (i + 2 >= s.size()) return std::nullopt;
            const int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            c = char(hi * 16 + lo);
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            c = ' ';
        }
        if (IsControl(static_cast<unsigned char>(c))) return std::nullopt;
        out += c;
    }
    return out;
}

std::optional<HttpRefusal> ParseTarget(std::string_view target, HttpRequest& out) {
    const HttpRefusal bad{400, "bad request target"};
    if (target.empty() || target.front() != '/') return bad;
    const size_t q = target.find('?');
    const auto path = Decode(target.substr(0, q), false);
    if (!path) return bad;
    out.Path = *path;
    if (q == std::string_view::npos) return std::nullopt;
    std::string_view query = target.substr(q + 1);
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view part = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (part.empty()) continue;
        const size_t eq = part.find('=');
        const auto key = Decode(part.substr(0, eq), true);
        const auto value = Decode(eq == std::string_view::npos ? std::string_view() : part.substr(eq + 1), true);
        if (!key || !value) return bad;
        if (out.Param(*key)) return HttpRefusal{400, "repeated query parameter \"" + Printable(*key) + "\""};
        out.Query.emplace_back(*key, *value);
    }
    return std::nullopt;
}

}  // namespace

const std::string& HttpRequest::Header(std::string_view name) const {
    static const std::string none;
    for (const auto& [k, v] : Headers)
        if (k == name) return v;
    return none;
}

bool HttpRequest::HasHeader(std::string_view name) const {
    return std::any_of(Headers.begin(), Headers.end(), [&](const auto& h) { return h.first == name; });
}

std::optional<std::string> HttpRequest::Param(std::string_view name) const {
    for (const auto& [k, v] : Query)
        if (k == name) return v;
    return std::nullopt;
}

std::optional<HttpRefusal> ParseRequestHead(std::string_view head, uint64_t maxBody, HttpRequest& out) {
    out = HttpRequest{};
    const HttpRefusal malformed{400, "malformed request"};

    // The request line: METHOD SP TARGET SP HTTP/1.x
    size_t end = head.find("\r\n");
    const std::string_view line = head.substr(0, end);
    head = end == std::string_view::npos ? std::string_view() : head.substr(end + 2);
    const size_t sp1 = line.find(' '), sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) return malformed;
    const std::string_view method = line.substr(0, sp1), target = line.substr(sp1 + 1, sp2 - sp1 - 1),
                           version = line.substr(sp2 + 1);
    if (method.empty() || method.size() > 16 ||
        !std::all_of(method.begin(), method.end(), [](unsigned char c) { return c >= 'A' && c <= 'Z'; }))
        return malformed;
    if (version.size() != 8 || version.substr(0, 7) != "HTTP/1." || (version[7] != '0' && version[7] != '1'))
        return version.substr(0, 5) == "HTTP/" ? HttpRefusal{505, "only HTTP/1.0 and HTTP/1.1 are served"}
                                               : malformed;
    out.Method = std::string(method);
    if (std::any_of(target.begin(), target.end(), [](unsigned char c) { return IsControl(c) || c >= 0x80; }))
        return HttpRefusal{400, "bad request target"};
    if (auto refusal = ParseTarget(target, out)) return refusal;

    // Header lines: NAME ":" VALUE, no folded continuation lines.
    while (!head.empty()) {
        end = head.find("\r\n");
        const std::string_view h = head.substr(0, end);
        head = end == std::string_view::npos ? std::string_view() : head.substr(end + 2);
        if (out.Headers.size() == MaxHeaderLines) return HttpRefusal{431, "too many header lines"};
        const size_t colon = h.find(':');
        if (colon == 0 || colon == std::string_view::npos) return malformed;
        const std::string_view name = h.substr(0, colon), value = Trim(h.substr(colon + 1));
        if (!std::all_of(name.begin(), name.end(), IsTokenChar)) return malformed;
        if (std::any_of(value.begin(), value.end(), [](unsigned char c) { return IsControl(c) && c != '\t'; }))
            return HttpRefusal{400, "control characters in the header " + std::string(name)};
        std::string key = Lower(name);
        if (std::find(std::begin(SingleHeaders), std::end(SingleHeaders), key) != std::end(SingleHeaders) &&
            out.HasHeader(key))
            return HttpRefusal{400, "repeated header " + std::string(name)};
        out.Headers.emplace_back(std::move(key), std::string(value));
    }

    if (version[7] == '1' && !out.HasHeader("host")) return HttpRefusal{400, "missing Host header"};
    // Only bodies of a stated length are read: the limit then holds before
    // anything is read or allocated.
    if (out.HasHeader("transfer-encoding"))
        return HttpRefusal{411, "bodies with a Transfer-Encoding are not accepted: send a Content-Length"};
    if (out.HasHeader("content-length")) {
        const std::string& n = out.Header("content-length");
        if (n.empty() || n.size() > 18 || !std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return HttpRefusal{400, "bad Content-Length"};
        out.ContentLength = std::stoull(n);
        if (out.ContentLength > maxBody)
            return HttpRefusal{413, "the request body is larger than " + std::to_string(maxBody) + " bytes"};
    }
    return std::nullopt;
}

bool EqualInConstantTime(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (IsControl(static_cast<unsigned char>(c))) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace lumets
