#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumets {

// Standard base64 (RFC 4648 alphabet, '=' padding) for the operator data kept in
// flow files.
std::string EncodeBase64(const std::vector<uint8_t>& bytes);
// Nothing when the text is not valid base64 (white space is ignored).
std::optional<std::vector<uint8_t>> DecodeBase64(const std::string& text);

}  // namespace lumets
