#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillet::test {

// One canned answer of the scripted server.
struct ScriptedReply {
    int status = 200;
    std::string body;
    std::string contentType = "text/xml; charset=utf-8";
    int delayMs = 0;   // wait before answering
    bool hang = false; // accept, read the request, never answer
};

// A small HTTP/1.1 server on 127.0.0.1 that answers requests with replies queued in advance,
// in order (the last one repeats), for what the real relay cannot be made to say on demand.
class ScriptedServer {
public:
    ScriptedServer();
    ~ScriptedServer();

    void Push(ScriptedReply reply);
    std::string Url(const std::string& target = "/") const;
    int RequestCount() const;
    std::vector<std::string> Targets() const; // request targets ("/path?query") in arrival order

private:
    void AcceptLoop();
    void Serve(int fd);
    ScriptedReply NextReply();

    int m_listenFd = -1;
    int m_port = 0;
    bool m_stopping = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    std::deque<ScriptedReply> m_replies;
    std::vector<std::string> m_targets;
    std::thread m_acceptor;
    std::vector<std::thread> m_connections;
};

} // namespace quillet::test
