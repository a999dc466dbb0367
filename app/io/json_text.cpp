#include "app/io/json_text.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "app/io/errors.h"

namespace lumets {

namespace {

std::string Where(const std::string& name, size_t line, size_t column) {
    return name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ReadHex4(std::string_view s, size_t at, unsigned& out) {
    if (at + 4 > s.size()) return false;
    out = 0;
    for (size_t k = 0; k < 4; ++k) {
        const int d = HexDigit(s[at + k]);
        if (d < 0) return false;
        out = out * 16 + unsigned(d);
    }
    return true;
}

void AppendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// A key's text between its quotes with its escapes decoded, as the parser will
// hold it, so that "a" and "\u0061" count as the same key. False for an escape
// the parser refuses (it reports that itself).
bool DecodeKey(std::string_view raw, std::string& out) {
    out.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            out += raw[i];
            continue;
        }
        if (++i >= raw.size()) return false;
        switch (raw[i]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            unsigned cp = 0;
            if (!ReadHex4(raw, i + 1, cp)) return false;
            i += 4;
            if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                unsigned low = 0;
                if (i + 2 >= raw.size() || raw[i + 1] != '\\' || raw[i + 2] != 'u' || !ReadHex4(raw, i + 3, low) ||
                    low < 0xDC00 || low > 0xDFFF)
                    return false;
                i += 6;
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            }
            AppendUtf8(out, cp);
            break;
        }
        default: return false;
        }
    }
    return true;
}

// A key as a message shows it: quoted, control characters escaped, cut short
// (on a character boundary) when long.
std::string Shown(const std::string& key) {
    constexpr size_t Longest = 60;
    std::string out = "\"";
    size_t end = key.size();
    if (end > Longest) {
        end = Longest;
        while (end > 0 && (static_cast<unsigned char>(key[end]) & 0xC0) == 0x80) --end;
    }
    for (size_t i = 0; i < end; ++i) {
        const auto c = static_cast<unsigned char>(key[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", unsigned(c));
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + (end < key.size() ? "...\"" : "\"");
}

// The parser's message without its "[json.exception...]" prefix and position.
std::string ParserMessage(const std::string& what) {
    if (const size_t column = what.find("column"); column != std::string::npos) {
        if (const size_t at = what.find(": ", column); at != std::string::npos) return what.substr(at + 2);
    }
    if (const size_t b = what.find("] "); b != std::string::npos) return what.substr(b + 2);
    return what;
}

}  // namespace

void CheckJsonStructure(std::string_view text, const std::string& name) {
    // One entry per open array or object. An object expects a key after its
    // opening brace and after each comma; the keys seen so far map to the line
    // they were first given on.
    struct Level {
        bool Object;
        bool ExpectKey;
        std::unordered_map<std::string, size_t> Keys;
    };
    std::vector<Level> levels;
    levels.reserve(MaxJsonDepth);
    std::string key;
    size_t line = 1, lineStart = 0;
    const char* s = text.data();
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        switch (s[i]) {
        case '\0':
            return;  // the parser takes a NUL byte outside a string as the end of the text
        case '\n':
            ++line;
            lineStart = i + 1;
            break;
        case '[':
        case '{':
            if (levels.size() >= size_t(MaxJsonDepth))
                throw UserError(Where(name, line, i - lineStart + 1) + "JSON nested more than " +
                                std::to_string(MaxJsonDepth) + " levels deep");
            levels.push_back(Level{s[i] == '{', s[i] == '{', {}});
            break;
        case ']':
        case '}':
            // A closer of the wrong kind is the parser's to report.
            if (!levels.empty()) levels.pop_back();
            break;
        case ',':
            if (!levels.empty() && levels.back().Object) levels.back().ExpectKey = true;
            break;
        case ':':
            if (!levels.empty() && levels.back().Object) levels.back().ExpectKey = false;
            break;
        case '"': {
            const size_t open = i, openLine = line, openColumn = i - lineStart + 1;
            bool escaped = false;
            // Strings may be megabytes of base64: a plain pass to the closing quote.
            for (++i; i < n && s[i] != '"'; ++i) {
                if (s[i] == '\\') {
                    escaped = true;
                    if (++i >= n) break;
                }
                if (s[i] == '\n') {
                    ++line;
                    lineStart = i + 1;
                }
            }
            if (i >= n) return;  // an unterminated string: the parser reports it
            if (levels.empty() || !levels.back().Object || !levels.back().ExpectKey) break;
            Level& object = levels.back();
            object.ExpectKey = false;
            const std::string_view raw(s + open + 1, i - open - 1);
            if (!escaped)
                key.assign(raw);
            else if (!DecodeKey(raw, key))
                break;
            const auto [first, fresh] = object.Keys.try_emplace(key, openLine);
            if (!fresh)
                throw UserError(Where(name, openLine, openColumn) + "duplicate key " + Shown(key) +
                                " (first given on line " + std::to_string(first->second) + ")");
            break;
        }
        default:
            break;
        }
    }
}

Json ParseJsonText(const std::string& text, const std::string& name) {
    CheckJsonStructure(text, name);
    try {
        return Json::parse(text);
    } catch (const Json::parse_error& e) {
        // Line and column of the byte where parsing failed.
        size_t line = 1, column = 1;
        const size_t upto = std::min<size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
        for (size_t i = 0; i < upto; ++i) {
            if (text[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        throw UserError(Where(name, line, column) + "malformed JSON: " + ParserMessage(e.what()));
    } catch (const Json::exception& e) {
        // Valid syntax the parser still cannot hold, such as a number beyond a double.
        std::string what = e.what();
        if (const size_t b = what.find("] "); b != std::string::npos) what = what.substr(b + 2);
        throw UserError(name + ": malformed JSON: " + what);
    }
}

}  // namespace lumets
