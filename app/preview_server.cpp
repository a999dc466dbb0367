// The HTTP side of `lumets preview`: a server on the loopback address that serves
// the page's own assets and a small JSON interface over a PreviewDocument.
#include <httplib.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

#include "app/errors.h"
#include "app/preview.h"
#include "app/progress.h"

namespace fs = std::filesystem;

namespace lumets {

namespace {

void Reply(httplib::Response& res, int status, const Json& body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(body.dump(), "application/json");
}
void Refuse(httplib::Response& res, int status, const std::string& message) {
    Reply(res, status, Json{{"error", message}});
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

Json BodyOf(const httplib::Request& req) {
    try {
        Json j = Json::parse(req.body);
        if (!j.is_object()) throw UserError("the request body must be a JSON object");
        return j;
    } catch (const Json::exception&) {
        throw UserError("the request body is not JSON");
    }
}

int64_t FrameOf(const Json& body, int64_t fallback) {
    if (!body.contains("frame")) return fallback;
    const Json& f = body["frame"];
    if (!f.is_number_integer() || f.get<int64_t>() < -1000000 || f.get<int64_t>() > 1000000)
        throw UserError("\"frame\" must be a whole number");
    return f.get<int64_t>();
}

std::optional<std::string> TextOf(const Json& body, const char* key) {
    if (!body.contains(key) || body[key].is_null()) return std::nullopt;
    if (!body[key].is_string()) throw UserError(std::string("\"") + key + "\" must be a text");
    return body[key].get<std::string>();
}

// Runs a handler, turning the user's errors into a 400 with their one-line message.
template <typename F>
httplib::Server::Handler Guarded(F f) {
    return [f](const httplib::Request& req, httplib::Response& res) {
        try {
            f(req, res);
        } catch (const UserError& e) {
            Refuse(res, 400, e.what());
        } catch (const Interrupted&) {
            Refuse(res, 503, "stopping");
        } catch (const std::exception& e) {
            Refuse(res, 500, e.what());
        }
    };
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

}  // namespace

int RunPreview(const std::string& flowPath, int port, const std::string& frames) {
    TempFolder work;
    PreviewDocument doc(flowPath, frames, work.Path);

    httplib::Server server;
    // Only SO_REUSEADDR: the library's default also sets SO_REUSEPORT, which
    // would let a second server share a busy port instead of failing.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_payload_max_length(8u << 20);
    server.set_read_timeout(10, 0);
    server.set_write_timeout(10, 0);

    int bound = 0;
    if (port == 0) {
        bound = server.bind_to_any_port("127.0.0.1");
    } else {
        bound = server.bind_to_port("127.0.0.1", port) ? port : -1;
    }
    if (bound <= 0)
        throw UserError("port " + std::to_string(port) + " on 127.0.0.1 is busy (choose another with --port)");

    server.set_pre_routing_handler([bound](const httplib::Request& req, httplib::Response& res) {
        if (!HostAllowed(req.get_header_value("Host"), bound)) {
            Refuse(res, 403, "refused: the Host header must name 127.0.0.1 or localhost");
            return httplib::Server::HandlerResponse::Handled;
        }
        // A browser marks requests made by other sites' pages (images, forms, scripts).
        const std::string site = req.get_header_value("Sec-Fetch-Site");
        if ((req.has_header("Origin") && !OriginAllowed(req.get_header_value("Origin"), bound)) || site == "cross-site" ||
            site == "same-site") {
            Refuse(res, 403, "refused: requests from other pages are not served");
            return httplib::Server::HandlerResponse::Handled;
        }
        // Changes come as JSON only, which a foreign page cannot send without asking first.
        if (req.method == "POST" && req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
            Refuse(res, 415, "requests that change something must be application/json");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    for (const auto& [path, asset] : PreviewAssets()) {
        const std::string type = asset.first, *bytes = &asset.second;
        server.Get(path, [type, bytes](const httplib::Request&, httplib::Response& res) {
            res.set_header("Cache-Control", "no-store");
            res.set_header("Content-Security-Policy", "default-src 'self'; img-src 'self' blob:; style-src 'self'");
            res.set_header("X-Content-Type-Options", "nosniff");
            res.set_content(*bytes, type.c_str());
        });
    }

    server.Get("/api/controls", Guarded([&](const httplib::Request& req, httplib::Response& res) {
                   int64_t frame = doc.First();
                   if (req.has_param("frame")) {
                       const std::string f = req.get_param_value("frame");
                       static const std::regex number(R"(-?\d{1,7})");
                       if (!std::regex_match(f, number)) throw UserError("bad frame \"" + f + "\"");
                       frame = std::stoll(f);
                   }
                   Reply(res, 200, doc.Describe(frame));
               }));
    server.Post("/api/set", Guarded([&](const httplib::Request& req, httplib::Response& res) {
                    const Json body = BodyOf(req);
                    const auto name = TextOf(body, "name");
                    if (!name) throw UserError("missing \"name\"");
                    if (!body.contains("value")) throw UserError("missing \"value\"");
                    const auto warnings = doc.Set(*name, body["value"], FrameOf(body, doc.First()));
                    Reply(res, 200, Json{{"ok", true}, {"warnings", warnings}});
                }));
    server.Post("/api/press", Guarded([&](const httplib::Request& req, httplib::Response& res) {
                    const Json body = BodyOf(req);
                    const auto name = TextOf(body, "name");
                    if (!name) throw UserError("missing \"name\"");
                    Reply(res, 200, doc.Press(*name, TextOf(body, "file"), FrameOf(body, doc.First())));
                }));
    server.Get(R"(/api/frame/(-?\d{1,7})\.png)", Guarded([&](const httplib::Request& req, httplib::Response& res) {
                   const int64_t n = std::stoll(req.matches[1].str());
                   const bool quick = req.has_param("quick") && req.get_param_value("quick") == "1";
                   int proxy = 1;
                   if (req.has_param("proxy")) {
                       const std::string p = req.get_param_value("proxy");
                       static const std::regex number(R"(\d{1,2})");
                       if (!std::regex_match(p, number)) throw UserError("bad proxy \"" + p + "\"");
                       proxy = std::stoi(p);
                   }
                   const auto start = std::chrono::steady_clock::now();
                   std::string png = doc.Frame(n, quick, proxy);
                   const double ms =
                       std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
                   res.set_header("Cache-Control", "no-store");
                   res.set_header("X-Render-Milliseconds", std::to_string(ms));
                   res.set_content(std::move(png), "image/png");
               }));
    server.Post("/api/save", Guarded([&](const httplib::Request& req, httplib::Response& res) {
                    const Json body = BodyOf(req);
                    const std::string written = doc.Save(TextOf(body, "as"));
                    Reply(res, 200, Json{{"ok", true}, {"path", written}});
                }));
    server.Post("/api/render", Guarded([&](const httplib::Request&, httplib::Response& res) {
                    doc.StartRender();
                    Reply(res, 200, doc.RenderStatus());
                }));
    server.Get("/api/render", Guarded([&](const httplib::Request&, httplib::Response& res) {
                   Reply(res, 200, doc.RenderStatus());
               }));
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) Refuse(res, res.status, res.status == 404 ? "no such page" : "refused");
    });

    // A termination request stops the server as Ctrl-C does (the temporary folder goes).
    std::signal(SIGTERM, [](int) { RequestStop(); });
    std::printf("lumets preview: http://127.0.0.1:%d/ (Ctrl-C to stop)\n", bound);
    std::fflush(stdout);
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        while (!finished) {
            if (StopRequested()) {
                server.stop();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    server.listen_after_bind();
    finished = true;
    watcher.join();
    std::fprintf(stderr, "lumets preview: stopped\n");
    return 0;
}

}  // namespace lumets
