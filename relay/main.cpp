// quillet-relay: the relay web service with its built-in sandbox network.

#include "relay/Log.h"
#include "relay/RelayService.h"
#include "relay/http/HttpServer.h"
#include "relay/networks/Sandbox.h"
#include "relay/store/SqliteStore.h"
#include "relay/store/TokenCipher.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

using namespace quillet::relay;

namespace {

struct Options {
    std::string host = "127.0.0.1";
    uint16_t port = 8080;
    std::string storePath = "relay.db";
    std::string keyFile = "relay.key";
    std::string publicUrl;
    int64_t tokenLifetime = 30 * 24 * 3600;
    int threads = 4;
    int busyTimeoutMs = 5000;
    RelayOptions relay;
};

const char kUsage[] =
    "usage: quillet-relay [--listen HOST:PORT] [--store sqlite:PATH] [--key-file PATH]\n"
    "                     [--demo] [--public-url URL] [--token-lifetime SECONDS]\n"
    "                     [--rate-limit REQUESTS-PER-MINUTE] [--pin-lifetime SECONDS]\n"
    "                     [--threads N] [--busy-timeout MS]\n";

int64_t Number(std::string_view option, std::string_view text, int64_t min, int64_t max) {
    int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || value < min ||
        value > max) {
        throw std::invalid_argument(std::string(option) + " wants a number from " +
                                    std::to_string(min) + " to " + std::to_string(max));
    }
    return value;
}

void ParseListen(std::string_view text, Options& o) {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        throw std::invalid_argument("--listen wants HOST:PORT");
    }
    o.host = std::string(text.substr(0, colon));
    o.port = static_cast<uint16_t>(Number("--listen", text.substr(colon + 1), 0, 65535));
}

void ParseStore(std::string_view text, Options& o) {
    constexpr std::string_view sqlite = "sqlite:";
    if (!text.starts_with(sqlite) || text.size() == sqlite.size()) {
        throw std::invalid_argument("--store wants sqlite:PATH (PostgreSQL is not built in)");
    }
    o.storePath = std::string(text.substr(sqlite.size()));
}

Options ParseArgs(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--demo") {
            o.relay.demo = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            throw std::invalid_argument("unknown option or missing value: " + std::string(arg));
        }
        const std::string_view value = argv[++i];
        if (arg == "--listen") {
            ParseListen(value, o);
        } else if (arg == "--store") {
            ParseStore(value, o);
        } else if (arg == "--key-file") {
            o.keyFile = std::string(value);
        } else if (arg == "--public-url") {
            o.publicUrl = std::string(value);
        } else if (arg == "--token-lifetime") {
            o.tokenLifetime = Number(arg, value, 1, int64_t{10} * 365 * 24 * 3600);
        } else if (arg == "--rate-limit") {
            o.relay.rateLimitPerMinute = static_cast<int>(Number(arg, value, 1, 1'000'000));
        } else if (arg == "--pin-lifetime") {
            o.relay.pinLifetime = Number(arg, value, 1, 24 * 3600);
        } else if (arg == "--threads") {
            o.threads = static_cast<int>(Number(arg, value, 1, 64));
        } else if (arg == "--busy-timeout") {
            o.busyTimeoutMs = static_cast<int>(Number(arg, value, 0, 600'000));
        } else {
            throw std::invalid_argument("unknown option: " + std::string(arg));
        }
    }
    return o;
}

std::string UrlHost(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

int Run(const Options& o) {
    const TokenCipher cipher = TokenCipher::FromKeyFile(o.keyFile);
    SqliteStore store(o.storePath, cipher, o.busyTimeoutMs);
    RequestLog log;

    RelayService* service = nullptr;
    HttpServer server(
        o.host, o.port, [&service](const HttpRequest& r) { return service->Handle(r); },
        HttpLimits{}, o.threads);
    const std::string base =
        "http://" + UrlHost(server.Host()) + ":" + std::to_string(server.Port());

    Sandbox sandbox(
        SandboxOptions{o.storePath, o.publicUrl.empty() ? base : o.publicUrl, o.tokenLifetime,
                       o.busyTimeoutMs});
    if (o.relay.demo) {
        sandbox.SeedDemo();
    }
    RelayService relay(
        store, cipher, [&sandbox](std::string_view n) { return sandbox.Adapter(n); },
        [&sandbox](std::string_view n) { return sandbox.FindPicture(n); }, log, o.relay);
    service = &relay;

    std::printf("quillet-relay listening on %s\n", base.c_str());
    std::fflush(stdout);
    server.Run();
    log.Line("stopped");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(ParseArgs(argc, argv));
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "quillet-relay: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillet-relay: %s\n", e.what());
        return 1;
    }
}
