#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillet::relay {

struct HttpRequest {
    std::string method; // "GET", "POST", ...
    std::string path;   // the target before "?", still encoded
    std::string query;  // the target after "?", still encoded
    std::string body;
    std::string contentType;
    std::string ifNoneMatch;
    std::string remote; // the peer's address
};

struct HttpResponse {
    unsigned status = 200;
    std::string contentType = "text/xml; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

struct HttpLimits {
    size_t maxTarget = 48 * 1024;
    size_t maxHeader = 64 * 1024; // request line and all header fields
    size_t maxBody = 64 * 1024;
    std::chrono::seconds idle{30};
};

// Reads one request from raw bytes with the parser and limits a connection uses: 200 with the
// request in out, 0 when the bytes end before the request does, else the status a connection
// would refuse it with (400, 413, 414 or 431).
unsigned ParseRequest(std::string_view bytes, const HttpLimits& limits, HttpRequest& out);

// An HTTP/1.1 server with keep-alive over a small pool of threads. The handler runs on a pool
// thread and may block for short store work. Requests beyond the limits get 413, 414 or 431
// and the connection is closed.
class HttpServer {
public:
    HttpServer(const std::string& host, uint16_t port, HttpHandler handler, HttpLimits limits,
               int threads);
    ~HttpServer();

    uint16_t Port() const;
    std::string Host() const;
    // Serves until Stop() or SIGINT/SIGTERM.
    void Run();
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace quillet::relay
