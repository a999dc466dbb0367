#include "app/preview/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

namespace lumets {

using Clock = std::chrono::steady_clock;

const char* StatusText(int status) {
    switch (status) {
        case 100: return "Continue";
        case 200: return "OK";
        case 400: return "Bad Request";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 408: return "Request Timeout";
        case 409: return "Conflict";
        case 411: return "Length Required";
        case 413: return "Content Too Large";
        case 415: return "Unsupported Media Type";
        case 431: return "Request Header Fields Too Large";
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 503: return "Service Unavailable";
        case 505: return "HTTP Version Not Supported";
        default: return "Status";
    }
}

// What the accept loop shares with the connection threads: the open sockets (to
// close them on stop) and their count. Held by the threads too, so that the
// last one to end may still touch it after Serve has returned.
struct HttpServer::Shared {
    std::mutex Lock;
    std::condition_variable Ended;
    std::set<int> Open;
    bool Stopping = false;
};

namespace {

std::string Serialise(const HttpResponse& res) {
    std::string out = "HTTP/1.1 " + std::to_string(res.Status) + " " + StatusText(res.Status) + "\r\n";
    if (!res.ContentType.empty()) out += "Content-Type: " + res.ContentType + "\r\n";
    out += "Content-Length: " + std::to_string(res.Body.size()) + "\r\nConnection: close\r\n";
    for (const auto& [k, v] : res.Headers) out += k + ": " + v + "\r\n";
    out += "\r\n";
    out += res.Body;
    return out;
}

HttpResponse Refusal(int status, const std::string& message) {
    HttpResponse res;
    res.Status = status;
    res.ContentType = "application/json";
    res.Body = nlohmann::json{{"error", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    res.Headers = {{"Cache-Control", "no-store"}, {"Referrer-Policy", "no-referrer"}};
    return res;
}

// Waits for the socket until the deadline, in slices, so that a stop is seen
// within a tenth of a second. Returns false at the deadline or on a stop.
bool WaitFor(int fd, short events, Clock::time_point deadline, const std::function<bool()>& stopping) {
    for (;;) {
        if (stopping()) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, int(std::min<long long>(left, 100)));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

enum class ReadResult { Data, End, Late, Failed };

// Appends at most `most` bytes that have arrived.
ReadResult ReadSome(int fd, std::string& buf, size_t most, Clock::time_point deadline,
                    const std::function<bool()>& stopping) {
    char chunk[16384];
    for (;;) {
        const ssize_t n = recv(fd, chunk, std::min(sizeof chunk, most), 0);
        if (n > 0) {
            buf.append(chunk, size_t(n));
            return ReadResult::Data;
        }
        if (n == 0) return ReadResult::End;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return ReadResult::Failed;
        if (!WaitFor(fd, POLLIN, deadline, stopping)) return stopping() ? ReadResult::Failed : ReadResult::Late;
    }
}

bool WriteAll(int fd, std::string_view data, Clock::time_point deadline, const std::function<bool()>& stopping) {
    while (!data.empty()) {
        const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n > 0) {
            data.remove_prefix(size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, deadline, stopping)) return false;
            continue;
        }
        return false;
    }
    return true;
}

// Reads one request within the limits. Returns the refusal to answer instead
// when it breaks them; no answer at all (Status 0) when the client left or the
// server stops.
HttpResponse ReadRequest(int fd, const HttpLimits& limits, HttpRequest& req, const std::function<bool()>& stopping) {
    const auto deadline = Clock::now() + limits.RequestDeadline;
    const HttpResponse late = Refusal(408, "the request did not arrive within " +
                                               std::to_string(limits.RequestDeadline.count() / 1000) + " s");
    std::string buf;
    size_t end = std::string::npos, scanned = 0;
    while ((end = buf.find("\r\n\r\n", scanned)) == std::string::npos) {
        if (buf.size() > limits.MaxHead) return Refusal(431, "the request head is too large");
        scanned = buf.size() < 3 ? 0 : buf.size() - 3;
        switch (ReadSome(fd, buf, limits.MaxHead + 4 - buf.size() + 1, deadline, stopping)) {
            case ReadResult::Data: break;
            case ReadResult::Late: return late;
            case ReadResult::End:
            case ReadResult::Failed: return HttpResponse{0, {}, {}, {}};
        }
    }
    if (end > limits.MaxHead) return Refusal(431, "the request head is too large");
    if (auto refusal = ParseRequestHead(std::string_view(buf).substr(0, end), limits.MaxBody, req))
        return Refusal(refusal->Status, refusal->Message);

    // The body: exactly Content-Length bytes, allocated only now that the
    // length is known to be within the limit.
    req.Body = buf.substr(end + 4, size_t(req.ContentLength));
    if (req.Body.size() < req.ContentLength) {
        if (req.Header("expect") == "100-continue" &&
            !WriteAll(fd, "HTTP/1.1 100 Continue\r\n\r\n", deadline, stopping))
            return HttpResponse{0, {}, {}, {}};
        req.Body.reserve(size_t(req.ContentLength));
        while (req.Body.size() < req.ContentLength) {
            switch (ReadSome(fd, req.Body, size_t(req.ContentLength) - req.Body.size(), deadline, stopping)) {
                case ReadResult::Data: break;
                case ReadResult::Late: return late;
                case ReadResult::End:
                case ReadResult::Failed: return HttpResponse{0, {}, {}, {}};
            }
        }
    }
    return HttpResponse{};
}

// After answering a request that was not read to its end: lets the client see
// the answer before the close (closing with unread bytes would reset the
// connection), reading and dropping what it still sends for a moment.
void Linger(int fd) {
    shutdown(fd, SHUT_WR);
    const auto until = Clock::now() + std::chrono::milliseconds(200);
    char sink[16384];
    for (size_t total = 0; total < (1u << 20);) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, int(left)) <= 0) return;
        const ssize_t n = recv(fd, sink, sizeof sink, 0);
        if (n <= 0) return;
        total += size_t(n);
    }
}

}  // namespace

HttpServer::HttpServer(HttpLimits limits) : Limits(limits) {}

HttpServer::~HttpServer() {
    if (ListenFd >= 0) close(ListenFd);
}

int HttpServer::Listen(const std::string& address, int port) {
    if (port < 0 || port > 65535) return -1;
    ListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (ListenFd < 0) return -1;
    // Only SO_REUSEADDR (a restarted server may take its port back at once), not
    // SO_REUSEPORT, which would let a second server share a busy port.
    int yes = 1;
    setsockopt(ListenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    socklen_t len = sizeof a;
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 || bind(ListenFd, (sockaddr*)&a, sizeof a) != 0 ||
        listen(ListenFd, 64) != 0 || getsockname(ListenFd, (sockaddr*)&a, &len) != 0) {
        close(ListenFd);
        ListenFd = -1;
        return -1;
    }
    return ntohs(a.sin_port);
}

void HttpServer::Serve(const Handler& handler, const std::function<bool()>& stop) {
    auto shared = std::make_shared<Shared>();
    const HttpLimits limits = Limits;
    const std::function<bool()> stopping = [s = shared.get()] {
        std::lock_guard<std::mutex> hold(s->Lock);
        return s->Stopping;
    };

    auto serveOne = [shared, limits, &handler, stopping](int fd) {
        HttpRequest req;
        HttpResponse res = ReadRequest(fd, limits, req, stopping);
        const bool readWhole = res.Status == 200;
        if (readWhole) {
            try {
                res = handler(req);
            } catch (const std::exception& e) {
                res = Refusal(500, e.what());
            } catch (...) {
                res = Refusal(500, "internal error");
            }
        }
        if (res.Status != 0 && WriteAll(fd, Serialise(res), Clock::now() + limits.WriteDeadline, stopping) &&
            !readWhole)
            Linger(fd);
        std::lock_guard<std::mutex> hold(shared->Lock);
        shared->Open.erase(fd);
        close(fd);
        shared->Ended.notify_all();
    };

    while (!stop()) {
        pollfd p{ListenFd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const int fd = accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        std::unique_lock<std::mutex> hold(shared->Lock);
        if (shared->Open.size() >= limits.MaxConnections) {
            hold.unlock();
            // A best-effort answer without waiting: the socket's buffer takes it.
            const std::string busy = Serialise(Refusal(503, "too many connections; try again"));
            (void)!send(fd, busy.data(), busy.size(), MSG_NOSIGNAL);
            shutdown(fd, SHUT_WR);
            close(fd);
            continue;
        }
        shared->Open.insert(fd);
        hold.unlock();
        try {
            std::thread(serveOne, fd).detach();
        } catch (const std::system_error&) {
            std::lock_guard<std::mutex> again(shared->Lock);
            shared->Open.erase(fd);
            close(fd);
        }
    }

    // New clients are refused from here on; open connections are cut (a
    // handler at work finishes its call first).
    close(ListenFd);
    ListenFd = -1;
    std::unique_lock<std::mutex> hold(shared->Lock);
    shared->Stopping = true;
    for (int fd : shared->Open) shutdown(fd, SHUT_RDWR);
    shared->Ended.wait(hold, [&] { return shared->Open.empty(); });
}

}  // namespace lumets
