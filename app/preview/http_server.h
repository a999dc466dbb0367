#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/preview/http_request.h"

namespace lumets {

struct HttpResponse {
    int Status = 200;
    std::string ContentType, Body;
    std::vector<std::pair<std::string, std::string>> Headers;  // beyond Content-Type/-Length and Connection
};

// What one client may take of the server. A slow or stalled client holds a
// connection for at most RequestDeadline (its whole head and body) plus
// WriteDeadline; beyond MaxConnections open at once, new ones are answered 503.
struct HttpLimits {
    size_t MaxConnections = 32;
    size_t MaxHead = 16 * 1024;
    // The preview's bodies are one control value or a file name: a spline of
    // thousands of points is a few hundred KiB.
    uint64_t MaxBody = 1u << 20;
    std::chrono::milliseconds RequestDeadline{10000}, WriteDeadline{10000};
};

// A small HTTP/1.1 server on one local address: a thread per connection, one
// request per connection (every answer closes it), bodies read only with a
// Content-Length within the limit.
class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    explicit HttpServer(HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens on address:port (port 0: any free port). Returns the
    // port, or -1 when it is busy or cannot be bound.
    int Listen(const std::string& address, int port);
    // Serves until `stop` returns true (polled ten times a second); then closes
    // every open connection and returns once the handlers running have ended.
    // The handler runs on the connection's thread; what it throws becomes a 500.
    void Serve(const Handler& handler, const std::function<bool()>& stop);

private:
    struct Shared;
    HttpLimits Limits;
    int ListenFd = -1;
};

// The status line's words for a status code ("Not Found").
const char* StatusText(int status);

}  // namespace lumets
