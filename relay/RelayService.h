#pragma once

#include "relay/Log.h"
#include "relay/http/HttpServer.h"
#include "relay/http/Query.h"
#include "relay/networks/NetworkAdapter.h"
#include "relay/networks/Sandbox.h"
#include "relay/store/Store.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quillet::relay {

class TokenCipher;

struct RelayOptions {
    bool demo = false;
    int rateLimitPerMinute = 600; // per access token, on /intf/smart
    int64_t pinLifetime = 300;    // seconds a Twitter PIN stays usable
    int64_t landingLifetime = 300;
    int64_t formLifetime = 900; // seconds a sign-in form may be left open
    int wrongPinBurst = 5;      // wrong PINs per minute and address before all are refused
    QueryLimits queryLimits;
};

// The relay's endpoints. Networks are reached through their adapters, pictures through the
// picture source; both are usually the sandbox's.
class RelayService {
public:
    using AdapterLookup = std::function<NetworkAdapter*(std::string_view)>;
    using PictureLookup = std::function<std::shared_ptr<const Picture>(std::string_view)>;

    RelayService(Store& store, const TokenCipher& cipher, AdapterLookup adapters,
                 PictureLookup pictures, RequestLog& log, RelayOptions options);

    HttpResponse Handle(const HttpRequest& request);

private:
    HttpResponse Route(const HttpRequest& request, const Params& params);
    HttpResponse UserOperate(const Params& params);
    HttpResponse UserQuery(const Params& params);
    HttpResponse AccountQuery(const Params& params);
    HttpResponse ModifyAccount(const Params& params);
    HttpResponse UserLogin(const Params& params);
    HttpResponse SignInForm(const HttpRequest& request, const Params& params,
                            const std::string& network);
    HttpResponse TwitterAuthorize(const HttpRequest& request, const Params& params);
    HttpResponse TwitterCallback(const HttpRequest& request, const Params& params);
    HttpResponse Smart(const Params& params);
    HttpResponse PictureFile(const HttpRequest& request, std::string_view name);

    // Checks the one-time value, then the credentials; returns the network's answer or the
    // page to show instead.
    std::optional<SignInResult> TrySignIn(const Params& params, const std::string& network,
                                          const std::string& action, HttpResponse& page);
    HttpResponse FormPage(const std::string& network, const std::string& action,
                          const std::string& message);
    std::string NewFormState(const std::string& network);
    bool OverBudget(const std::string& token);
    bool PinBurst(const std::string& remote, bool recordFailure);

    Store& m_store;
    const TokenCipher& m_cipher;
    AdapterLookup m_adapters;
    PictureLookup m_pictures;
    RequestLog& m_log;
    RelayOptions m_options;

    struct Budget {
        int64_t minute = 0;
        int count = 0;
    };
    std::mutex m_budgetMutex;
    std::unordered_map<std::string, Budget> m_budgets;
    std::mutex m_pinMutex;
    std::unordered_map<std::string, std::deque<int64_t>> m_wrongPins;
};

} // namespace quillet::relay
