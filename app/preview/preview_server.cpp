// The HTTP side of `lumets preview`: a server on the loopback address that serves
// the page's own assets and a small JSON interface over a PreviewDocument, to
// whoever holds the session's token.
#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/io/errors.h"
#include "app/preview/http_server.h"
#include "app/io/json_text.h"
#include "app/preview/preview.h"
#include "app/session/progress.h"

namespace fs = std::filesystem;

namespace lumets {

namespace {

// Sent with every answer: nothing is cached, and no address (which holds the
// token) leaves the page as a Referer.
const std::vector<std::pair<std::string, std::string>> CommonHeaders{
    {"Cache-Control", "no-store"}, {"Referrer-Policy", "no-referrer"}, {"X-Content-Type-Options", "nosniff"}};

HttpResponse Reply(int status, const Json& body) {
    HttpResponse res;
    res.Status = status;
    res.ContentType = "application/json";
    // Texts from flows or requests may hold bytes that are not UTF-8.
    res.Body = body.dump(-1, ' ', false, Json::error_handler_t::replace);
    res.Headers = CommonHeaders;
    return res;
}
HttpResponse Refuse(int status, const std::string& message) { return Reply(status, Json{{"error", message}}); }

// 128 random bits from the kernel, as hex: the session's token.
std::string NewToken() {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw UserError("cannot get random bytes for the session's token");
        got += size_t(n);
    }
    std::string hex;
    for (unsigned char b : bytes) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

// Host names the page may be reached under: the loopback address or name, with
// our port when a port is given. Anything else is refused, so that a foreign
// name pointed at 127.0.0.1 (DNS rebinding) reaches nothing.
bool HostAllowed(const std::string& host, int port) {
    const std::string p = ":" + std::to_string(port);
    for (const char* name : {"127.0.0.1", "localhost"})
        if (host == name || host == std::string(name) + p) return true;
    return false;
}
bool OriginAllowed(const std::string& origin, int port) {
    const std::string p = ":" + std::to_string(port);
    return origin == "http://127.0.0.1" + p || origin == "http://localhost" + p;
}

// The media type of a Content-Type header, without its parameters, in lower case.
std::string MediaType(const std::string& contentType) {
    std::string t = contentType.substr(0, contentType.find(';'));
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
    for (char& c : t)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return t;
}

// The body through the bounded reader: nesting and repeated keys are refused
// before a value is built, and the body itself is at most HttpLimits::MaxBody.
Json BodyOf(const HttpRequest& req) {
    Json j = ParseJsonText(req.Body, "request body");
    if (!j.is_object()) throw UserError("the request body must be a JSON object");
    return j;
}

int64_t FrameOf(const Json& body, int64_t fallback) {
    if (!body.contains("frame")) return fallback;
    const Json& f = body["frame"];
    if (!f.is_number_integer() || f.get<int64_t>() < -1000000 || f.get<int64_t>() > 1000000)
        throw UserError("\"frame\" must be a whole number");
    return f.get<int64_t>();
}

// A text field of a request. Control characters are refused here: names and
// file names never hold them, and messages that quote them stay whole.
std::optional<std::string> TextOf(const Json& body, const char* key) {
    if (!body.contains(key) || body[key].is_null()) return std::nullopt;
    if (!body[key].is_string()) throw UserError(std::string("\"") + key + "\" must be a text");
    std::string text = body[key].get<std::string>();
    if (Printable(text) != text)
        throw UserError(std::string("\"") + key + "\" holds control characters: \"" + Printable(text) + "\"");
    return text;
}

// A number parameter of up to `digits` digits (a leading minus when `negative`).
std::optional<int64_t> NumberOf(const std::string& text, size_t digits, bool negative) {
    const size_t sign = negative && !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() <= sign || text.size() - sign > digits) return std::nullopt;
    for (size_t i = sign; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    return std::stoll(text);
}

// Runs a handler, turning the user's errors into a 400 with their one-line
// message and a request that a newer one replaced into a 409.
template <typename F>
HttpResponse Guarded(F f) {
    try {
        return f();
    } catch (const UserError& e) {
        return Refuse(400, e.what());
    } catch (const Superseded& e) {
        return Refuse(409, e.what());
    } catch (const Interrupted&) {
        return Refuse(503, "stopping");
    } catch (const std::exception& e) {
        return Refuse(500, e.what());
    }
}

struct TempFolder {
    std::string Path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "lumets-preview-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw UserError("cannot make a temporary folder");
        Path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(Path, ec);
    }
};

// The page's assets as served: the page's own references to its script and
// style sheet carry the token (the placeholder __TOKEN__ in index.html).
std::map<std::string, std::pair<std::string, std::string>> AssetsWithToken(const std::string& token) {
    auto assets = PreviewAssets();
    for (auto& [path, asset] : assets) {
        std::string& bytes = asset.second;
        for (size_t at = 0; (at = bytes.find("__TOKEN__", at)) != std::string::npos; at += token.size())
            bytes.replace(at, 9, token);
    }
    return assets;
}

HttpResponse Asset(const std::pair<std::string, std::string>& asset) {
    HttpResponse res;
    res.ContentType = asset.first;
    res.Body = asset.second;
    res.Headers = CommonHeaders;
    res.Headers.emplace_back("Content-Security-Policy", "default-src 'self'; img-src 'self' blob:; style-src 'self'");
    return res;
}

}  // namespace

int RunPreview(const std::string& flowPath, int port, const std::string& frames) {
    TempFolder work;
    PreviewDocument doc(flowPath, frames, work.Path);
    const std::string token = NewToken();
    const auto assets = AssetsWithToken(token);

    HttpServer server;
    const int bound = server.Listen("127.0.0.1", port);
    if (bound <= 0)
        throw UserError("port " + std::to_string(port) + " on 127.0.0.1 is busy (choose another with --port)");

    // The answer to one request, after the checks every request passes.
    auto route = [&](const HttpRequest& req) -> HttpResponse {
        const std::string& m = req.Method;
        const std::string& path = req.Path;
        if (auto a = assets.find(path); a != assets.end() && m == "GET") return Asset(a->second);
        if (path == "/api/controls" && m == "GET")
            return Guarded([&] {
                int64_t frame = doc.First();
                if (const auto f = req.Param("frame")) {
                    const auto n = NumberOf(*f, 7, true);
                    if (!n) throw UserError("bad frame \"" + Printable(*f) + "\"");
                    frame = *n;
                }
                return Reply(200, doc.Describe(frame));
            });
        if (path == "/api/set" && m == "POST")
            return Guarded([&] {
                const Json body = BodyOf(req);
                const auto name = TextOf(body, "name");
                if (!name) throw UserError("missing \"name\"");
                if (!body.contains("value")) throw UserError("missing \"value\"");
                bool final = true;
                if (body.contains("final")) {
                    if (!body["final"].is_boolean()) throw UserError("\"final\" must be true or false");
                    final = body["final"].get<bool>();
                }
                const auto warnings = doc.Set(*name, body["value"], FrameOf(body, doc.First()), final);
                return Reply(200, Json{{"ok", true}, {"warnings", warnings}});
            });
        if (path == "/api/key" && m == "POST")
            return Guarded([&] {
                const Json body = BodyOf(req);
                const auto name = TextOf(body, "name");
                if (!name) throw UserError("missing \"name\"");
                const bool remove = body.contains("remove") && body["remove"] == Json(true);
                if (body.contains("remove") && !body["remove"].is_boolean())
                    throw UserError("\"remove\" must be true or false");
                const bool move = body.contains("from") || body.contains("to");
                if (move && (!body.contains("from") || !body.contains("to") || remove || body.contains("frame")))
                    throw UserError("a key is moved with \"from\" and \"to\" (and no \"frame\" or \"remove\")");
                if (!move && !body.contains("frame")) throw UserError("missing \"frame\"");
                const int64_t frame = move ? FrameOf(Json{{"frame", body["from"]}}, 0) : FrameOf(body, 0);
                const int64_t to = move ? FrameOf(Json{{"frame", body["to"]}}, 0) : frame;
                std::vector<std::string> warnings;
                const auto what = move ? PreviewDocument::KeyEdit::Move
                                       : remove ? PreviewDocument::KeyEdit::Remove : PreviewDocument::KeyEdit::Add;
                const auto keys = doc.Key(*name, what, frame, to, &warnings);
                return Reply(200, Json{{"keys", keys}, {"warnings", warnings}});
            });
        if ((path == "/api/undo" || path == "/api/redo") && m == "POST")
            return Guarded([&] {
                std::string label;
                const bool done = path == "/api/undo" ? doc.Undo(&label) : doc.Redo(&label);
                return Reply(200, Json{{"done", done}, {"what", label}});
            });
        if (path == "/api/flow" && m == "GET")
            return Guarded([&] {
                HttpResponse res;
                res.ContentType = "application/json";
                res.Body = doc.FlowText();
                res.Headers = CommonHeaders;
                return res;
            });
        if (path == "/api/press" && m == "POST")
            return Guarded([&] {
                const Json body = BodyOf(req);
                const auto name = TextOf(body, "name");
                if (!name) throw UserError("missing \"name\"");
                return Reply(200, doc.Press(*name, TextOf(body, "file"), FrameOf(body, doc.First())));
            });
        const std::string framePrefix = "/api/frame/", frameSuffix = ".png";
        if (path.rfind(framePrefix, 0) == 0 && path.size() > framePrefix.size() + frameSuffix.size() &&
            path.compare(path.size() - frameSuffix.size(), frameSuffix.size(), frameSuffix) == 0 && m == "GET") {
            const auto n = NumberOf(path.substr(framePrefix.size(), path.size() - framePrefix.size() - frameSuffix.size()),
                                    7, true);
            if (!n) return Refuse(404, "no such page");
            return Guarded([&] {
                const bool quick = req.Param("quick") == "1";
                int proxy = 1;
                if (const auto p = req.Param("proxy")) {
                    const auto v = NumberOf(*p, 2, false);
                    if (!v) throw UserError("bad proxy \"" + Printable(*p) + "\"");
                    proxy = int(*v);
                }
                const auto start = std::chrono::steady_clock::now();
                HttpResponse res;
                res.Body = doc.Frame(*n, quick, proxy);
                const double ms =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
                res.ContentType = "image/png";
                res.Headers = CommonHeaders;
                res.Headers.emplace_back("X-Render-Milliseconds", std::to_string(ms));
                return res;
            });
        }
        if (path == "/api/save" && m == "POST")
            return Guarded([&] {
                const Json body = BodyOf(req);
                const std::string written = doc.Save(TextOf(body, "as"));
                return Reply(200, Json{{"ok", true}, {"path", written}});
            });
        if (path == "/api/render" && m == "POST")
            return Guarded([&] {
                doc.StartRender();
                return Reply(200, doc.RenderStatus());
            });
        if (path == "/api/render" && m == "GET") return Guarded([&] { return Reply(200, doc.RenderStatus()); });
        return Refuse(404, "no such page");
    };

    auto handle = [&](const HttpRequest& req) -> HttpResponse {
        if (!HostAllowed(req.Header("host"), bound))
            return Refuse(403, "refused: the Host header must name 127.0.0.1 or localhost");
        // The token comes in the address (the page itself, its script and style
        // sheet) or in a header (the page's requests); never in a cookie, which
        // every other server on 127.0.0.1 would be sent too.
        const auto given = req.Param("token");
        const std::string& header = req.Header("x-lumets-token");
        if (!EqualInConstantTime(given ? *given : header, token) || (given && !header.empty() && header != *given))
            return Refuse(403, "refused: the request needs the session's token (open the address lumets preview printed)");
        // A browser marks requests made by other sites' pages (images, forms, scripts).
        const std::string& site = req.Header("sec-fetch-site");
        if ((req.HasHeader("origin") && !OriginAllowed(req.Header("origin"), bound)) || site == "cross-site" ||
            site == "same-site")
            return Refuse(403, "refused: requests from other pages are not served");
        // Changes come as JSON only, which a foreign page cannot send without asking first.
        if (req.Method == "POST" && MediaType(req.Header("content-type")) != "application/json")
            return Refuse(415, "requests that change something must be application/json");
        return route(req);
    };

    // A termination request stops the server as Ctrl-C does (the temporary folder goes).
    std::signal(SIGTERM, [](int) { RequestStop(); });
    // Standard output closed by whoever started us (a pipe to a program that
    // has ended) must not end the process and leave the temporary folder behind.
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("lumets preview: http://127.0.0.1:%d/?token=%s (Ctrl-C to stop)\n", bound, token.c_str());
    std::fflush(stdout);
    server.Serve(handle, [] { return StopRequested(); });
    std::fprintf(stderr, "lumets preview: stopped\n");
    return 0;
}

}  // namespace lumets
