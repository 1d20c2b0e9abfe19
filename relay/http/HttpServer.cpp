#include "relay/http/HttpServer.h"

// Boost 1.74's Asio needs <utility> before it under GCC 12 in C++20 mode: HttpServer.h
// brings it in first.
#include <array>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <optional>
#include <thread>
#include <utility>

namespace quillet::relay {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
// Each connection's stream runs on its own strand, named by its exact type: behind the default
// type-erased executor every operation copied the strand onto the heap.
using Strand = asio::strand<asio::io_context::executor_type>;
using Stream = beast::basic_stream<tcp, Strand>;
using Socket = Stream::socket_type;

namespace {

using Parser = http::request_parser<http::string_body>;

// A fresh parser with the server's limits.
void StartParser(std::optional<Parser>& parser, const HttpLimits& limits) {
    parser.emplace();
    parser->header_limit(static_cast<std::uint32_t>(limits.maxHeader));
    parser->body_limit(limits.maxBody);
}

// What a request the parser refused is answered with.
http::status RefusalFor(beast::error_code ec) {
    if (ec == http::error::header_limit) {
        return http::status::request_header_fields_too_large;
    }
    if (ec == http::error::body_limit) {
        return http::status::payload_too_large;
    }
    return http::status::bad_request;
}

HttpRequest RequestFrom(const http::request<http::string_body>& req, std::string remote) {
    HttpRequest in;
    in.method = std::string(req.method_string());
    const std::string_view target(req.target().data(), req.target().size());
    const size_t q = target.find('?');
    in.path = std::string(target.substr(0, q));
    in.query = q == std::string_view::npos ? std::string() : std::string(target.substr(q + 1));
    in.body = req.body();
    in.contentType = std::string(req[http::field::content_type]);
    in.ifNoneMatch = std::string(req[http::field::if_none_match]);
    in.remote = std::move(remote);
    return in;
}

void AppendField(std::string& out, std::string_view name, std::string_view value) {
    out += name;
    out += ": ";
    out += value;
    out += "\r\n";
}

// A reply's status line and fields, as Beast's serializer wrote them (the same fields in the
// same order) at a fraction of its cost. Keep-alive is the default from HTTP/1.1 on, and must
// be asked for before; the body is always framed by its length.
void WriteHead(std::string& out, unsigned version, bool keepAlive, const HttpResponse& res) {
    out.clear();
    out += "HTTP/";
    out += static_cast<char>('0' + version / 10);
    out += '.';
    out += static_cast<char>('0' + version % 10);
    out += ' ';
    out += std::to_string(res.status);
    out += ' ';
    const auto reason = http::obsolete_reason(static_cast<http::status>(res.status));
    out.append(reason.data(), reason.size());
    out += "\r\n";
    AppendField(out, "Server", "quillet-relay");
    if (!res.contentType.empty()) {
        AppendField(out, "Content-Type", res.contentType);
    }
    for (const auto& [name, value] : res.headers) {
        AppendField(out, name, value);
    }
    if (version >= 11 && !keepAlive) {
        AppendField(out, "Connection", "close");
    } else if (version < 11 && keepAlive) {
        AppendField(out, "Connection", "keep-alive");
    }
    AppendField(out, "Content-Length", std::to_string(res.body.size()));
    out += "\r\n";
}

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(Socket socket, const HttpHandler& handler, const HttpLimits& limits)
        : m_remote(PeerAddress(socket)), m_stream(std::move(socket)), m_handler(handler),
          m_limits(limits) {}

    void Start() {
        asio::dispatch(m_stream.get_executor(), [self = shared_from_this()] { self->Read(); });
    }

private:
    void Read() {
        StartParser(m_parser, m_limits);
        m_stream.expires_after(m_limits.idle);
        http::async_read(
            m_stream, m_buffer, *m_parser,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
    }

    void OnRead(beast::error_code ec) {
        if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
            ec == asio::error::connection_reset || ec == asio::error::eof) {
            return Close();
        }
        if (ec) {
            return Refuse(RefusalFor(ec));
        }
        const auto& req = m_parser->get();
        if (req.target().size() > m_limits.maxTarget) {
            return Refuse(http::status::uri_too_long);
        }
        HttpResponse res = Handle(req);
        Write(req.version(), req.keep_alive(), std::move(res));
    }

    // The peer stays the same for the connection's life: asked once, not on every request.
    static std::string PeerAddress(const Socket& socket) {
        beast::error_code ec;
        const auto peer = socket.remote_endpoint(ec);
        return ec ? std::string() : peer.address().to_string();
    }

    HttpResponse Handle(const http::request<http::string_body>& req) {
        const HttpRequest in = RequestFrom(req, m_remote);
        try {
            return m_handler(in);
        } catch (const std::exception&) {
            HttpResponse err;
            err.status = 500;
            err.body = "<reply><_error type=\"str\">internal error</_error></reply>";
            return err;
        }
    }

    void Write(unsigned version, bool keepAlive, HttpResponse res) {
        // Both stay in the session until the write completes; the head's buffer is reused.
        m_reply = std::move(res);
        WriteHead(m_head, version, keepAlive, m_reply);
        const std::array<asio::const_buffer, 2> bytes = {asio::buffer(m_head),
                                                         asio::buffer(m_reply.body)};
        m_stream.expires_after(m_limits.idle);
        asio::async_write(
            m_stream, bytes,
            [self = shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
                if (ec || !keepAlive) {
                    return self->Close();
                }
                self->Read();
            });
    }

    // The rest of an over-long request is never read: answer and close.
    void Refuse(http::status status) {
        HttpResponse res;
        res.status = static_cast<unsigned>(status);
        res.contentType = "text/plain; charset=utf-8";
        res.body = std::string(http::obsolete_reason(status)) + "\n";
        Write(11, false, std::move(res));
    }

    void Close() {
        beast::error_code ec;
        m_stream.socket().shutdown(Socket::shutdown_send, ec);
    }

    const std::string m_remote;
    Stream m_stream;
    beast::flat_buffer m_buffer;
    std::optional<Parser> m_parser;
    HttpResponse m_reply;
    std::string m_head;
    const HttpHandler& m_handler;
    const HttpLimits& m_limits;
};

} // namespace

struct HttpServer::Impl {
    Impl(int threads, HttpHandler h, HttpLimits l)
        : threadCount(threads < 1 ? 1 : threads), ioc(threadCount), acceptor(ioc),
          signals(ioc, SIGINT, SIGTERM), handler(std::move(h)), limits(l) {}

    void Accept() {
        acceptor.async_accept(asio::make_strand(ioc), [this](beast::error_code ec, Socket s) {
            if (!acceptor.is_open()) {
                return;
            }
            if (!ec) {
                std::make_shared<Session>(std::move(s), handler, limits)->Start();
            }
            Accept();
        });
    }

    int threadCount;
    asio::io_context ioc;
    tcp::acceptor acceptor;
    asio::signal_set signals;
    HttpHandler handler;
    HttpLimits limits;
};

HttpServer::HttpServer(const std::string& host, uint16_t port, HttpHandler handler,
                       HttpLimits limits, int threads)
    : m_impl(std::make_unique<Impl>(threads, std::move(handler), limits)) {
    const tcp::endpoint endpoint(asio::ip::make_address(host), port);
    auto& acceptor = m_impl->acceptor;
    acceptor.open(endpoint.protocol());
    acceptor.set_option(asio::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(asio::socket_base::max_listen_connections);
}

HttpServer::~HttpServer() = default;

uint16_t HttpServer::Port() const {
    return m_impl->acceptor.local_endpoint().port();
}

std::string HttpServer::Host() const {
    return m_impl->acceptor.local_endpoint().address().to_string();
}

void HttpServer::Run() {
    m_impl->signals.async_wait([this](beast::error_code, int) { Stop(); });
    m_impl->Accept();
    std::vector<std::thread> pool;
    for (int i = 1; i < m_impl->threadCount; ++i) {
        pool.emplace_back([this] { m_impl->ioc.run(); });
    }
    m_impl->ioc.run();
    for (auto& t : pool) {
        t.join();
    }
}

void HttpServer::Stop() {
    asio::post(m_impl->ioc, [this] {
        beast::error_code ec;
        m_impl->acceptor.close(ec);
        m_impl->ioc.stop();
    });
}

unsigned ParseRequest(std::string_view bytes, const HttpLimits& limits, HttpRequest& out) {
    std::optional<Parser> parser;
    StartParser(parser, limits);
    parser->eager(true);
    beast::error_code ec;
    while (!bytes.empty() && !parser->is_done()) {
        const size_t used = parser->put(asio::buffer(bytes.data(), bytes.size()), ec);
        if (ec == http::error::need_more || (!ec && used == 0)) {
            return 0;
        }
        if (ec) {
            return static_cast<unsigned>(RefusalFor(ec));
        }
        bytes.remove_prefix(used);
    }
    if (!parser->is_done()) {
        return 0;
    }
    const auto& req = parser->get();
    if (req.target().size() > limits.maxTarget) {
        return static_cast<unsigned>(http::status::uri_too_long);
    }
    out = RequestFrom(req, {});
    return 200;
}

} // namespace quillet::relay
