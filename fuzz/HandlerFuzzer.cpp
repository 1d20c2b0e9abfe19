// The relay's request handler in process, on a temporary store seeded with the demo network.
// An input is "METHOD\nTARGET\nCONTENT-TYPE\nBODY"; the placeholders @TOKEN@, @SECRET@ (a
// signed-in twitter account's token and secret), @SINA@ (a sina token) and @ID@ (a relay user
// that owns the sina account) let the fuzzer reach what only signed-in callers can.
#include "relay/Log.h"
#include "relay/RelayService.h"
#include "relay/networks/Sandbox.h"
#include "relay/store/SqliteStore.h"
#include "relay/store/TokenCipher.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

using namespace quillet::relay;

struct World {
    std::string dir;
    std::unique_ptr<TokenCipher> cipher;
    std::unique_ptr<SqliteStore> store;
    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<RequestLog> log;
    std::unique_ptr<RelayService> service;
    std::string sinaToken, twitterToken, twitterSecret, userId;
};

World* g_world = nullptr;

std::string Replace(std::string text, std::string_view from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string_view NextLine(std::string_view& rest) {
    const size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return line;
}

std::string Database(const World& w) {
    return w.dir + "/relay.db";
}

std::string SeededCopy(const World& w) {
    return w.dir + "/seeded.db";
}

// The store, the sandbox and the service on the world's database.
void Open(World& w) {
    w.store = std::make_unique<SqliteStore>(Database(w), *w.cipher, 100);
    w.sandbox =
        std::make_unique<Sandbox>(SandboxOptions{Database(w), "http://127.0.0.1:9", 3600, 100});
    RelayOptions options;
    options.demo = true;
    options.rateLimitPerMinute = 1'000'000'000;
    World* world = &w;
    w.service = std::make_unique<RelayService>(
        *w.store, *w.cipher, [world](std::string_view n) { return world->sandbox->Adapter(n); },
        [world](std::string_view n) { return world->sandbox->FindPicture(n); }, *w.log, options);
}

// Closing every connection leaves the whole database in its main file.
void Close(World& w) {
    w.service.reset();
    w.sandbox.reset();
    w.store.reset();
}

// A store seeded with the demo network, a relay user holding its sina account, and a copy of
// that store to go back to.
World* MakeWorld() {
    // A store in memory when the system offers one: nothing needs to outlive the run, and a
    // disk would make every write the slowest step.
    std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    pattern += "/quillet-fuzz-handler.XXXXXX";
    if (!mkdtemp(pattern.data()))
        std::abort();
    auto* w = new World;
    w->dir = pattern;
    w->cipher = std::make_unique<TokenCipher>(TokenCipher::FromKeyFile(w->dir + "/relay.key"));
    w->log = std::make_unique<RequestLog>(std::fopen("/dev/null", "w"));
    Open(*w);
    w->sandbox->SeedDemo();

    const auto sina = w->sandbox->Adapter("sina")->SignIn("demo", "demo");
    const auto twitter = w->sandbox->Adapter("twitter")->SignIn("demo", "demo");
    if (!sina || !twitter)
        std::abort();
    w->sinaToken = sina->accessToken;
    w->twitterToken = twitter->accessToken;
    w->twitterSecret = twitter->accessSecret;
    w->userId = w->store->CreateUser();
    w->store->AddAccount(
        w->userId, AccountRecord{"sina", sina->accountName, sina->accessToken, "", sina->expireIn});
    Close(*w);
    std::filesystem::copy_file(Database(*w), SeededCopy(*w));
    Open(*w);
    return w;
}

// Posts pile up in the store and every timeline grows with them: now and then the world goes
// back to the store as seeded, so executions stay about as fast as the first ones. A copy, not
// a new seed: seeding takes seconds under the sanitizers, more than one run may take.
constexpr int RunsPerReset = 20000;

void ResetWorld(World& w) {
    Close(w);
    const std::string db = Database(w);
    std::filesystem::copy_file(SeededCopy(w), db,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(db + "-wal");
    std::filesystem::remove(db + "-shm");
    Open(w);
}

void DropWorld() {
    if (!g_world)
        return;
    const std::string dir = g_world->dir;
    delete g_world; // the service and sandbox go before the store they use
    g_world = nullptr;
    std::filesystem::remove_all(dir);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_world = MakeWorld();
    std::atexit(DropWorld);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int runs = 0;
    if (++runs % RunsPerReset == 0)
        ResetWorld(*g_world);
    World& w = *g_world;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    HttpRequest request;
    request.method = NextLine(rest);
    const std::string target =
        Replace(Replace(Replace(Replace(std::string(NextLine(rest)), "@TOKEN@", w.twitterToken),
                                "@SECRET@", w.twitterSecret),
                        "@SINA@", w.sinaToken),
                "@ID@", w.userId);
    const size_t q = target.find('?');
    request.path = target.substr(0, q);
    request.query = q == std::string::npos ? std::string() : target.substr(q + 1);
    request.contentType = NextLine(rest);
    request.body = rest;
    request.remote = "127.0.0.1";

    const HttpResponse response = w.service->Handle(request);
    // Every refusal is a reply of its own: a 5xx would mean the handler failed.
    if (response.status >= 500 && response.status != 503)
        __builtin_trap();
    return 0;
}
