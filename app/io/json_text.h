#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace lumets {

using Json = nlohmann::ordered_json;

// The deepest nesting of arrays and objects accepted in JSON from outside. A
// flow needs about ten levels; the JSON library copies, prints and compares
// values recursively, so a deeper text could exhaust the stack.
constexpr int MaxJsonDepth = 64;

// Reads JSON text that came from outside (a flow file, an HTTP request body).
// Before any value is built the text is scanned once: nesting deeper than
// MaxJsonDepth and an object holding the same key twice are refused. Throws
// UserError with one line "name:line:column: what" (malformed JSON included).
Json ParseJsonText(const std::string& text, const std::string& name);

// The scan alone: throws UserError as ParseJsonText does for too deep a nesting
// or a repeated key, and leaves every other fault to the parser. Linear in the
// text's size; long strings cost a pass over their bytes.
void CheckJsonStructure(std::string_view text, const std::string& name);

}  // namespace lumets
