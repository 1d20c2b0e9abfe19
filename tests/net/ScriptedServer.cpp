#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace quillet::test {

namespace {

const char* ReasonOf(int status) {
    switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

// Reads the request head (and a body of Content-Length bytes); returns the request target.
std::string ReadRequest(int fd) {
    std::string data;
    char buffer[4096];
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return {};
        data.append(buffer, static_cast<size_t>(n));
    }
    size_t length = 0;
    const size_t at = data.find("Content-Length:");
    if (at != std::string::npos && at < headEnd)
        length = std::stoul(data.substr(at + 15));
    while (data.size() < headEnd + 4 + length) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
    }
    const size_t start = data.find(' ');
    const size_t end = data.find(' ', start + 1);
    return data.substr(start + 1, end - start - 1);
}

void SendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

} // namespace

ScriptedServer::ScriptedServer() {
    m_listenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (m_listenFd < 0 || bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(m_listenFd, 64) != 0 ||
        getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("scripted server: cannot listen on 127.0.0.1");
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    shutdown(m_listenFd, SHUT_RDWR);
    close(m_listenFd);
    m_acceptor.join();
    for (std::thread& connection : m_connections)
        connection.join();
}

void ScriptedServer::Push(ScriptedReply reply) {
    std::lock_guard lock(m_mutex);
    m_replies.push_back(std::move(reply));
}

std::string ScriptedServer::Url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + target;
}

int ScriptedServer::RequestCount() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_targets.size());
}

std::vector<std::string> ScriptedServer::Targets() const {
    std::lock_guard lock(m_mutex);
    return m_targets;
}

ScriptedReply ScriptedServer::NextReply() {
    std::lock_guard lock(m_mutex);
    if (m_replies.empty())
        return {404, "", "text/plain"};
    ScriptedReply reply = m_replies.front();
    if (m_replies.size() > 1)
        m_replies.pop_front();
    return reply;
}

void ScriptedServer::AcceptLoop() {
    for (;;) {
        const int fd = accept(m_listenFd, nullptr, nullptr);
        if (fd < 0)
            return;
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            close(fd);
            return;
        }
        m_connections.emplace_back([this, fd] { Serve(fd); });
    }
}

void ScriptedServer::Serve(int fd) {
    const std::string target = ReadRequest(fd);
    {
        std::lock_guard lock(m_mutex);
        m_targets.push_back(target);
    }
    const ScriptedReply reply = NextReply();
    std::unique_lock lock(m_mutex);
    const auto wait = reply.hang ? std::chrono::hours(1) : std::chrono::milliseconds(reply.delayMs);
    m_stopped.wait_for(lock, wait, [this] { return m_stopping; });
    const bool answer = !reply.hang && !m_stopping;
    lock.unlock();
    if (answer)
        SendAll(fd, "HTTP/1.1 " + std::to_string(reply.status) + " " + ReasonOf(reply.status) +
                        "\r\nContent-Type: " + reply.contentType +
                        "\r\nContent-Length: " + std::to_string(reply.body.size()) +
                        "\r\nConnection: close\r\n\r\n" + reply.body);
    close(fd);
}

} // namespace quillet::test
