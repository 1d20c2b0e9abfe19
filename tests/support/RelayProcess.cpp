#include "tests/support/RelayProcess.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quillet::test {

namespace {

std::string MakeTempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quillet-relay-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    return pattern;
}

// Reads the relay's first line ("quillet-relay listening on http://HOST:PORT").
std::string ReadFirstLine(int fd, std::chrono::seconds timeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            throw std::runtime_error("quillet-relay did not report its address in time");
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            throw std::runtime_error("quillet-relay ended before reporting its address");
        }
        line.append(buf, static_cast<size_t>(n));
    }
    return line.substr(0, line.find('\n'));
}

} // namespace

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

RelayProcess::RelayProcess() : RelayProcess(Options{}) {}

RelayProcess::RelayProcess(Options options) {
    const char* env = std::getenv("QUILLET_RELAY");
    const std::string binary = !options.binary.empty() ? options.binary : env ? env : "";
    if (binary.empty()) {
        throw std::runtime_error("no relay binary: set QUILLET_RELAY");
    }
    m_ownsDir = options.dataDir.empty();
    m_dataDir = m_ownsDir ? MakeTempDir() : options.dataDir;

    std::vector<std::string> args = {
        binary,       "--listen",   "127.0.0.1:0", "--store", "sqlite:" + DatabasePath(),
        "--key-file", KeyFilePath()};
    args.insert(args.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, LogPath().c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int rc = ::posix_spawn(&m_pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    m_stdout = pipeFds[0];
    if (rc != 0) {
        m_pid = -1;
        throw std::runtime_error("cannot start " + binary);
    }
    try {
        const std::string line = ReadFirstLine(m_stdout, std::chrono::seconds(20));
        const std::string prefix = "quillet-relay listening on ";
        if (line.rfind(prefix, 0) != 0) {
            throw std::runtime_error("unexpected first line: " + line);
        }
        m_baseUrl = line.substr(prefix.size());
        m_port = static_cast<uint16_t>(std::stoi(m_baseUrl.substr(m_baseUrl.rfind(':') + 1)));
    } catch (...) {
        Stop();
        throw;
    }
}

RelayProcess::~RelayProcess() {
    Stop();
    if (m_ownsDir) {
        std::error_code ec;
        std::filesystem::remove_all(m_dataDir, ec);
    }
}

std::string RelayProcess::ReadLog() const {
    return ReadFileBytes(LogPath());
}

void RelayProcess::Stop() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
    }
    if (m_stdout >= 0) {
        ::close(m_stdout);
        m_stdout = -1;
    }
}

} // namespace quillet::test
