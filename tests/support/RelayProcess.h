#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quillet::test {

// Runs the real quillet-relay (Options::binary, else the QUILLET_RELAY environment variable) on
// 127.0.0.1
// with a free port, a database and key file in a data folder, and its log in a file there.
class RelayProcess {
public:
    struct Options {
        std::vector<std::string> args; // extra options, e.g. {"--demo"}
        std::string dataDir;           // reuse a folder (a restart); empty: a fresh temporary one
        std::string binary;            // the relay program; empty: $QUILLET_RELAY
    };

    RelayProcess();
    explicit RelayProcess(Options options);
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    const std::string& BaseUrl() const { return m_baseUrl; } // "http://127.0.0.1:PORT"
    uint16_t Port() const { return m_port; }
    pid_t Pid() const { return m_pid; } // for signals a test sends itself (SIGSTOP, SIGKILL)
    const std::string& DataDir() const { return m_dataDir; }
    std::string DatabasePath() const { return m_dataDir + "/relay.db"; }
    std::string KeyFilePath() const { return m_dataDir + "/relay.key"; }
    std::string LogPath() const { return m_dataDir + "/relay.log"; }
    std::string ReadLog() const;

    // Stops the relay (SIGTERM, then SIGKILL after a few seconds); the folder stays until the
    // object is destroyed, unless it was handed in.
    void Stop();
    // Keeps the data folder after destruction (to start another relay on it).
    void KeepData() { m_ownsDir = false; }

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    uint16_t m_port = 0;
    std::string m_baseUrl;
    std::string m_dataDir;
    bool m_ownsDir = false;
};

// Reads a whole file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

} // namespace quillet::test
