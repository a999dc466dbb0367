#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumets {

// One HTTP/1.x request as the preview server reads it. Header names are kept in
// lower case; the target is split into its decoded path and query parameters.
struct HttpRequest {
    std::string Method, Path;
    std::vector<std::pair<std::string, std::string>> Query;
    std::vector<std::pair<std::string, std::string>> Headers;
    uint64_t ContentLength = 0;
    std::string Body;

    // The first value of a header (name in lower case), or "" when absent.
    const std::string& Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
    std::optional<std::string> Param(std::string_view name) const;
};

// Why a request head was refused: the status to answer and a one-line message.
struct HttpRefusal {
    int Status;
    std::string Message;
};

// Reads a request head: the bytes before the blank line that ends it (request
// line and header lines, each ended by CRLF; the last CRLF may be left off).
// Refuses, with the status to answer: a malformed request line or header line
// (400), an HTTP version other than 1.0 or 1.1 (505), more than 100 header
// lines (431), a repeated header whose value decides something (Host,
// Content-Length, Content-Type, Origin, ...: 400), a body sent with
// Transfer-Encoding (411: only bodies of a stated length are read), a
// Content-Length that is not a plain number (400) or above maxBody (413), and
// a target that is not an absolute path or holds bad escapes or control
// characters (400). Pure: reads nothing but `head`.
std::optional<HttpRefusal> ParseRequestHead(std::string_view head, uint64_t maxBody, HttpRequest& out);

// Compares two texts in time that depends only on their lengths, so that a
// wrong token reveals nothing about how much of it was right.
bool EqualInConstantTime(std::string_view a, std::string_view b);

// A text for a one-line message: control characters (a NUL included) are
// shown as \xNN, so that nothing cuts or breaks the line.
std::string Printable(std::string_view text);

}  // namespace lumets
