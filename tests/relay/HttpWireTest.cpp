// The relay's replies as bytes on the wire: status line, header fields, framing and whether the
// connection stays open, for each way a client may ask for it.
#include "tests/relay/RelayTestUtil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <unistd.h>

using namespace quillet::test;

namespace {

// One raw TCP connection to the relay.
class Wire {
public:
    explicit Wire(uint16_t port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~Wire() { ::close(m_fd); }
    Wire(const Wire&) = delete;
    Wire& operator=(const Wire&) = delete;

    bool Connected() const { return m_connected; }
    void Send(const std::string& bytes) {
        ASSERT_EQ(::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    }

    // The next reply's head, up to and with the blank line, and its body as Content-Length
    // frames it; a reply the relay sends nothing after must still be complete.
    std::pair<std::string, std::string> Reply() {
        size_t end;
        while ((end = m_pending.find("\r\n\r\n")) == std::string::npos && Fill()) {
        }
        if (end == std::string::npos) {
            return {};
        }
        std::string head = m_pending.substr(0, end + 4);
        std::smatch m;
        const std::regex length("\r\nContent-Length: ([0-9]+)\r\n", std::regex::icase);
        const size_t size = std::regex_search(head, m, length) ? std::stoul(m[1].str()) : 0;
        while (m_pending.size() < end + 4 + size && Fill()) {
        }
        std::string body = m_pending.substr(end + 4, size);
        m_pending.erase(0, end + 4 + size);
        return {head, body};
    }

    // Whether the relay closed the connection (nothing more arrives and the read ends).
    bool ClosedByPeer() {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) != 1) {
            return false;
        }
        char c;
        return ::recv(m_fd, &c, 1, 0) == 0;
    }

private:
    bool Fill() {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) {
            return false;
        }
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return false;
        }
        m_pending.append(buffer, size_t(n));
        return true;
    }

    int m_fd;
    bool m_connected = false;
    std::string m_pending;
};

// The fields of a head as "Name: value" lines, in order, without the status line.
std::vector<std::string> Fields(const std::string& head) {
    std::vector<std::string> out;
    size_t start = head.find("\r\n") + 2;
    for (size_t end; (end = head.find("\r\n", start)) != start; start = end + 2) {
        out.push_back(head.substr(start, end - start));
    }
    return out;
}

} // namespace

TEST(HttpWire, ConnectionHeaderAndClosingFollowTheRequestVersion) {
    RelayProcess relay(RelayOptions({}));
    struct Case {
        const char* what;
        const char* version;
        const char* connection; // the request's Connection field, or nullptr
        const char* reply;      // the reply's Connection field, or nullptr
        bool stays;
    };
    const Case cases[] = {
        {"1.1 by default", "HTTP/1.1", nullptr, nullptr, true},
        {"1.1 asked to close", "HTTP/1.1", "close", "close", false},
        {"1.0 by default", "HTTP/1.0", nullptr, nullptr, false},
        {"1.0 asked to keep", "HTTP/1.0", "keep-alive", "keep-alive", true},
    };
    for (const Case& c : cases) {
        Wire wire(relay.Port());
        ASSERT_TRUE(wire.Connected()) << c.what;
        std::string request =
            std::string("GET /user/operate?method=create ") + c.version + "\r\nHost: x\r\n";
        if (c.connection) {
            request += std::string("Connection: ") + c.connection + "\r\n";
        }
        wire.Send(request + "\r\n");
        const auto [head, body] = wire.Reply();
        ASSERT_EQ(head.rfind(std::string(c.version) + " 200 OK\r\n", 0), 0u) << c.what << head;
        std::vector<std::string> expected = {"Server: quillet-relay",
                                             "Content-Type: text/xml; charset=utf-8",
                                             "Cache-Control: no-store"};
        if (c.reply) {
            expected.push_back(std::string("Connection: ") + c.reply);
        }
        expected.push_back("Content-Length: " + std::to_string(body.size()));
        EXPECT_EQ(Fields(head), expected) << c.what;
        EXPECT_NE(Field(body, "ID"), "") << c.what << body;
        if (!c.stays) {
            EXPECT_TRUE(wire.ClosedByPeer()) << c.what;
            continue;
        }
        wire.Send(request + "\r\n");
        EXPECT_NE(Field(wire.Reply().second, "ID"), "") << c.what << ": a second reply";
    }
}

TEST(HttpWire, RepliesWithoutBodyAndRefusalsAreFramed) {
    RelayProcess relay(RelayOptions({}));
    Wire wire(relay.Port());
    ASSERT_TRUE(wire.Connected());
    // A redirect carries its own fields and an empty, framed body; the connection goes on.
    wire.Send("GET /intf/twitter/oauth HTTP/1.1\r\nHost: x\r\n\r\n");
    const auto [redirect, empty] = wire.Reply();
    ASSERT_EQ(redirect.rfind("HTTP/1.1 302 Found\r\n", 0), 0u) << redirect;
    const auto fields = Fields(redirect);
    ASSERT_EQ(fields.size(), 5u) << redirect;
    EXPECT_EQ(fields[1], "Content-Type: text/plain; charset=utf-8");
    EXPECT_EQ(fields[2].rfind("Location: /oauth/authorize?oauth_token=", 0), 0u) << fields[2];
    EXPECT_EQ(fields[3], "Cache-Control: no-store");
    EXPECT_EQ(fields[4], "Content-Length: 0");
    EXPECT_TRUE(empty.empty());

    // Too large a header is refused, with its reason as plain text, and the connection closed.
    wire.Send("GET / HTTP/1.1\r\nX-Big: " + std::string(70000, 'h') + "\r\n\r\n");
    const auto [refused, reason] = wire.Reply();
    EXPECT_EQ(refused.rfind("HTTP/1.1 431 Request Header Fields Too Large\r\n", 0), 0u) << refused;
    EXPECT_NE(refused.find("\r\nConnection: close\r\n"), std::string::npos) << refused;
    EXPECT_EQ(reason, "Request Header Fields Too Large\n");
    EXPECT_TRUE(wire.ClosedByPeer());
}

TEST(HttpWire, LogHasOneMaskedLinePerRequest) {
    RelayProcess relay(RelayOptions({"--demo"}));
    const SignedIn s = SignInAt(relay, "sina");
    const std::string notify =
        relay.BaseUrl() + "/intf/smart?sns=sina&access_token=" + s.token + "&category=notify";
    HttpClient client;
    constexpr int kPolls = 5;
    for (int i = 0; i < kPolls; ++i) {
        ASSERT_FALSE(IsError(client.Get(notify).body));
    }
    client.Get(relay.BaseUrl() + "/nothing?x=%zz");
    relay.Stop();
    const std::string log = relay.ReadLog();
    const std::regex poll("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z 127\\.0\\.0\\.1 "
                          "GET /intf/smart\\?sns=sina&access_token=\\*&category=notify 200 "
                          "[0-9]+\\.[0-9]ms$");
    const std::regex malformed(
        " GET /nothing 400 [0-9]+\\.[0-9]ms$"); // nothing parsed, nothing shown
    int polls = 0;
    int refusals = 0;
    size_t start = 0;
    for (size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = log.substr(start, end - start);
        polls += std::regex_search(line, poll) ? 1 : 0;
        refusals += std::regex_search(line, malformed) ? 1 : 0;
    }
    EXPECT_EQ(polls, kPolls) << log;
    EXPECT_EQ(refusals, 1) << log;
    EXPECT_EQ(start, log.size()) << "the log ends with a whole line";
    EXPECT_EQ(log.find(s.token), std::string::npos);
}
