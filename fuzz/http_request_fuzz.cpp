// Fuzz target: a request head as the preview server reads it (the bytes before
// the blank line). The input is the head's bytes; it is parsed with a 1 KiB
// body limit. A refusal must carry a status and a printable one-line message; a
// request that passes must hold only what the server's checks rely on.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/preview/http_request.h"

namespace fuzzing {

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "http_request_fuzz: %s\n", what);
        std::abort();
    }
}

bool Printable(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

}  // namespace

int RunHttpRequestInput(const uint8_t* data, size_t size) {
    const std::string_view head(reinterpret_cast<const char*>(data), size);
    lumets::HttpRequest req;
    const auto refusal = lumets::ParseRequestHead(head, 1024, req);
    if (refusal) {
        Check(refusal->Status >= 400 && refusal->Status < 600, "refusal without an error status");
        Check(!refusal->Message.empty() && Printable(refusal->Message), "refusal message not one printable line");
        return 0;
    }
    Check(!req.Method.empty(), "no method");
    Check(!req.Path.empty() && req.Path[0] == '/' && Printable(req.Path), "path not absolute or not printable");
    Check(req.ContentLength <= 1024, "body above the limit");
    Check(!req.HasHeader("transfer-encoding"), "a Transfer-Encoding passed");
    int hosts = 0;
    for (const auto& [name, value] : req.Headers) {
        Check(!name.empty(), "empty header name");
        for (char c : name) Check(!(c >= 'A' && c <= 'Z'), "header name not in lower case");
        for (unsigned char c : value) Check(c == '\t' || (c >= 0x20 && c != 0x7f), "control character in a value");
        hosts += name == "host";
    }
    Check(hosts <= 1, "two Host headers passed");
    for (const auto& [key, value] : req.Query) Check(Printable(key) && Printable(value), "query not printable");
    const std::string shown = lumets::Printable(head);
    Check(Printable(shown), "Printable left a control character");
    Check(lumets::EqualInConstantTime(head, head) && !lumets::EqualInConstantTime(head, shown + "x"),
          "token comparison wrong");
    return 0;
}

}  // namespace fuzzing

#ifndef LUMETS_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::RunHttpRequestInput(data, size);
}
#endif
