#include "relay/RelayService.h"

#include "relay/pages/SignInPages.h"
#include "relay/store/Sqlite.h"
#include "relay/store/TokenCipher.h"
#include "relay/xml/ReplyWriter.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <ctime>

namespace quillet::relay {

namespace {

constexpr std::array<std::string_view, 8> kFunctions = {
    "user",    "public_timeline", "timeline",  "update_status",
    "comment", "friends",         "followers", "notify"};

int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

HttpResponse Xml(std::string body, unsigned status = 200) {
    HttpResponse res;
    res.status = status;
    res.body = std::move(body);
    // Most replies carry tokens or a user's private data: nothing may keep a copy.
    res.headers.emplace_back("Cache-Control", "no-store");
    return res;
}

HttpResponse Error(std::string_view text, int code = -1, unsigned status = 200) {
    ReplyWriter w;
    w.Error(text, code);
    return Xml(w.Finish(), status);
}

HttpResponse Ok() {
    ReplyWriter w;
    w.Str("result", "ok");
    return Xml(w.Finish());
}

HttpResponse Html(std::string body, unsigned status = 200) {
    HttpResponse res;
    res.status = status;
    res.contentType = "text/html; charset=utf-8";
    res.body = std::move(body);
    res.headers.emplace_back("Cache-Control", "no-store");
    res.headers.emplace_back("X-Frame-Options", "DENY");
    return res;
}

// The landing page and the PIN callback hand the reply over as the page's text itself.
HttpResponse PlainReply(std::string body) {
    HttpResponse res = Xml(std::move(body));
    res.contentType = "text/plain; charset=utf-8";
    return res;
}

HttpResponse Redirect(std::string location) {
    HttpResponse res;
    res.status = 302;
    res.contentType = "text/plain; charset=utf-8";
    res.headers.emplace_back("Location", std::move(location));
    res.headers.emplace_back("Cache-Control", "no-store");
    return res;
}

// A parameter that must be given exactly once; repeating it is refused, so two different
// values can never be read by two different checks.
struct Required {
    const std::string* value = nullptr;
    std::string problem;
};

Required Single(const Params& params, std::string_view name, bool optional = false) {
    const size_t n = CountParam(params, name);
    if (n > 1) {
        return {nullptr, "repeated parameter " + std::string(name)};
    }
    if (n == 0) {
        return {nullptr, optional ? std::string() : "missing parameter " + std::string(name)};
    }
    return {FindParam(params, name), {}};
}

std::optional<int64_t> ParseInteger(std::string_view text) {
    int64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::string AuthorizationReply(const std::string& network, const SignInResult& r) {
    ReplyWriter w;
    w.Str("account_name", r.accountName);
    w.Str("account_type", network);
    w.Str("access_token", r.accessToken);
    w.Int("expire_in", r.expireIn);
    if (network == "twitter" || !r.accessSecret.empty()) {
        w.Str("access_secret", r.accessSecret);
    }
    return w.Finish();
}

bool IsTransient(const std::exception& e) {
    if (dynamic_cast<const TransientStoreError*>(&e)) {
        return true;
    }
    const auto* sqlite = dynamic_cast<const SqliteError*>(&e);
    return sqlite && sqlite->Transient();
}

} // namespace

RelayService::RelayService(Store& store, const TokenCipher& cipher, AdapterLookup adapters,
                           PictureLookup pictures, RequestLog& log, RelayOptions options)
    : m_store(store), m_cipher(cipher), m_adapters(std::move(adapters)),
      m_pictures(std::move(pictures)), m_log(log), m_options(options) {}

HttpResponse RelayService::Handle(const HttpRequest& request) {
    const auto started = std::chrono::steady_clock::now();
    Params params;
    QueryError problem = ParseQuery(request.query, params, m_options.queryLimits);
    const bool form = request.contentType.starts_with("application/x-www-form-urlencoded");
    if (problem == QueryError::none && request.method == "POST" && form) {
        problem = ParseQuery(request.body, params, m_options.queryLimits, true);
    }
    HttpResponse res;
    if (problem == QueryError::malformed) {
        res = Error("malformed query", -1, 400);
    } else if (problem != QueryError::none) {
        res = Error("query too long", -1, 414);
    } else if (request.method != "GET" && request.method != "POST") {
        res = Error("method not allowed", -1, 405);
    } else {
        try {
            res = Route(request, params);
        } catch (const std::exception& e) {
            if (IsTransient(e)) {
                res = Error("the store is busy, try again", 1);
            } else {
                m_log.Line(std::string("error: ") + e.what());
                res = Error("internal error", -1, 500);
            }
        }
    }
    const std::chrono::duration<double, std::milli> took =
        std::chrono::steady_clock::now() - started;
    m_log.Request(request.remote, request.method, request.path, params, res.status, took.count());
    return res;
}

HttpResponse RelayService::Route(const HttpRequest& request, const Params& params) {
    const std::string& path = request.path;
    if (path == "/intf/smart") {
        return Smart(params);
    }
    if (path.starts_with("/pictures/")) {
        return PictureFile(request, std::string_view(path).substr(10));
    }
    if (path == "/user/operate") {
        return UserOperate(params);
    }
    if (path == "/user/query") {
        return UserQuery(params);
    }
    if (path == "/account/query") {
        return AccountQuery(params);
    }
    if (path == "/user/modifyaccount") {
        return ModifyAccount(params);
    }
    if (path == "/user/login") {
        return UserLogin(params);
    }
    if (path == "/oauth/authorize") {
        return TwitterAuthorize(request, params);
    }
    if (path == "/intf/twitter/callback") {
        return TwitterCallback(request, params);
    }
    constexpr std::string_view intf = "/intf/";
    constexpr std::string_view oauth = "/oauth";
    if (path.starts_with(intf) && path.ends_with(oauth) &&
        path.size() > intf.size() + oauth.size()) {
        const std::string network =
            path.substr(intf.size(), path.size() - intf.size() - oauth.size());
        if (network.find('/') == std::string::npos && m_adapters(network)) {
            return SignInForm(request, params, network);
        }
    }
    return Error("unknown address", -1, 404);
}

HttpResponse RelayService::UserOperate(const Params& params) {
    const Required method = Single(params, "method");
    if (!method.value) {
        return Error(method.problem);
    }
    if (*method.value == "create") {
        ReplyWriter w;
        w.Str("ID", m_store.CreateUser());
        return Xml(w.Finish());
    }
    if (*method.value != "add" && *method.value != "delete") {
        return Error("unknown method");
    }
    const Required id = Single(params, "ID");
    const Required type = Single(params, "account_type");
    const Required name = Single(params, "account_name");
    for (const Required* r : {&id, &type, &name}) {
        if (!r->value) {
            return Error(r->problem);
        }
    }
    if (*method.value == "delete") {
        if (!m_store.DeleteAccount(*id.value, *type.value, *name.value)) {
            return Error("no such account");
        }
        return Ok();
    }
    const Required token = Single(params, "access_token");
    const Required secret = Single(params, "access_secret", true);
    const Required expire = Single(params, "expire_in");
    for (const Required* r : {&token, &secret, &expire}) {
        if (!r->value && !r->problem.empty()) {
            return Error(r->problem);
        }
    }
    const auto expireIn = ParseInteger(*expire.value);
    if (!expireIn) {
        return Error("expire_in is not an integer");
    }
    NetworkAdapter* adapter = m_adapters(*type.value);
    if (!adapter) {
        return Error("unknown account type");
    }
    if (name.value->empty()) {
        return Error("empty account name");
    }
    AccountRecord account{*type.value, *name.value, *token.value,
                          secret.value ? *secret.value : std::string(), *expireIn};
    // Linking needs proof of the account: otherwise anyone could claim a name and later be
    // shown as its owner.
    if (!adapter->TokenValid(account.accountName, {account.accessToken, account.accessSecret})) {
        return Error("the token is not valid for this account");
    }
    switch (m_store.AddAccount(*id.value, account)) {
    case AddResult::unknownUser:
        return Error("unknown user");
    case AddResult::ownedByOther:
        return Error("the account is linked to another user");
    case AddResult::added:
    case AddResult::updated:
        break;
    }
    return Ok();
}

HttpResponse RelayService::UserQuery(const Params& params) {
    const Required type = Single(params, "type", true);
    if (!type.problem.empty()) {
        return Error(type.problem);
    }
    if (type.value && *type.value != "xml") {
        return Error("unknown reply type");
    }
    const Required id = Single(params, "ID");
    if (!id.value) {
        return Error(id.problem);
    }
    if (!m_store.UserExists(*id.value)) {
        return Error("unknown user");
    }
    ReplyWriter w;
    w.BeginList("accounts");
    for (const AccountRecord& a : m_store.Accounts(*id.value)) {
        w.BeginDict("account");
        w.Str("account_name", a.accountName);
        w.Str("account_type", a.accountType);
        w.Str("access_token", a.accessToken);
        w.Int("expire_in", a.expireIn);
        if (!a.accessSecret.empty()) {
            w.Str("access_secret", a.accessSecret);
        }
        w.EndDict();
    }
    w.EndList();
    return Xml(w.Finish());
}

HttpResponse RelayService::AccountQuery(const Params& params) {
    const Required name = Single(params, "account_name");
    const Required type = Single(params, "account_type");
    const Required token = Single(params, "access_token", true);
    const Required secret = Single(params, "access_secret", true);
    for (const Required* r : {&name, &type, &token, &secret}) {
        if (!r->value && !r->problem.empty()) {
            return Error(r->problem);
        }
    }
    std::string owner = "None";
    NetworkAdapter* adapter = m_adapters(*type.value);
    const auto found = adapter ? m_store.FindAccount(*type.value, *name.value) : std::nullopt;
    if (found && token.value && !token.value->empty()) {
        // The stored token proves it, and so does a fresh one from a new sign-in.
        const std::string given = *token.value;
        const std::string givenSecret = secret.value ? *secret.value : found->account.accessSecret;
        if (SameSecret(given, found->account.accessToken) ||
            adapter->TokenValid(*name.value, {given, givenSecret})) {
            owner = found->userId;
        }
    }
    ReplyWriter w;
    w.Str("ID", owner);
    return Xml(w.Finish());
}

HttpResponse RelayService::ModifyAccount(const Params& params) {
    const Required type = Single(params, "account_type");
    const Required name = Single(params, "account_name");
    const Required token = Single(params, "access_token");
    const Required secret = Single(params, "access_secret", true);
    for (const Required* r : {&type, &name, &token, &secret}) {
        if (!r->value && !r->problem.empty()) {
            return Error(r->problem);
        }
    }
    NetworkAdapter* adapter = m_adapters(*type.value);
    const auto found = adapter ? m_store.FindAccount(*type.value, *name.value) : std::nullopt;
    if (!found) {
        return Error("no such account");
    }
    const std::string newSecret = secret.value ? *secret.value : found->account.accessSecret;
    if (!adapter->TokenValid(*name.value, {*token.value, newSecret})) {
        return Error("the token is not valid for this account");
    }
    if (!m_store.UpdateCredentials(*type.value, *name.value, *token.value, newSecret)) {
        return Error("no such account");
    }
    return Ok();
}

HttpResponse RelayService::UserLogin(const Params& params) {
    const Required code = Single(params, "code");
    if (!code.value) {
        ReplyWriter w;
        w.Error("the sign-in did not complete");
        return PlainReply(w.Finish());
    }
    auto reply = m_store.TakePending("landing", *code.value, Now());
    if (!reply) {
        ReplyWriter w;
        w.Error("the sign-in has expired or was used already");
        return PlainReply(w.Finish());
    }
    return PlainReply(std::move(*reply));
}

std::string RelayService::NewFormState(const std::string& network) {
    const int64_t now = Now();
    m_store.PurgeExpired(now);
    std::string state = RandomHex(16);
    m_store.PutPending("form", state, network, now + m_options.formLifetime);
    return state;
}

HttpResponse RelayService::FormPage(const std::string& network, const std::string& action,
                                    const std::string& message) {
    struct SignInForm form {
        network, action, NewFormState(network), message, m_options.demo
    };
    return Html(SignInPage(form));
}

std::optional<SignInResult> RelayService::TrySignIn(const Params& params,
                                                    const std::string& network,
                                                    const std::string& action, HttpResponse& page) {
    const Required state = Single(params, "state");
    const Required screenName = Single(params, "screen_name");
    const Required password = Single(params, "password");
    if (!state.value) {
        page = Html(MessagePage("Sign-in refused", state.problem), 400);
        return std::nullopt;
    }
    const auto stateNetwork = m_store.TakePending("form", *state.value, Now());
    if (!stateNetwork || *stateNetwork != network) {
        page = FormPage(network, action, "This sign-in form has expired. Please sign in again.");
        return std::nullopt;
    }
    if (!screenName.value || !password.value) {
        page = FormPage(network, action, "Please enter your screen name and password.");
        return std::nullopt;
    }
    auto result = m_adapters(network)->SignIn(*screenName.value, *password.value);
    if (!result) {
        page = FormPage(network, action, "Wrong screen name or password.");
    }
    return result;
}

HttpResponse RelayService::SignInForm(const HttpRequest& request, const Params& params,
                                      const std::string& network) {
    if (network == "twitter") {
        // Twitter signs in on its own authorization page, which ends with a PIN.
        return Redirect("/oauth/authorize?oauth_token=" + NewFormState(network));
    }
    const std::string action = "/intf/" + network + "/oauth";
    if (request.method != "POST") {
        return FormPage(network, action, {});
    }
    HttpResponse page;
    const auto result = TrySignIn(params, network, action, page);
    if (!result) {
        return page;
    }
    const std::string code = RandomHex(16);
    m_store.PutPending("landing", code, AuthorizationReply(network, *result),
                       Now() + m_options.landingLifetime);
    return Redirect("/user/login?code=" + code);
}

HttpResponse RelayService::TwitterAuthorize(const HttpRequest& request, const Params& params) {
    if (!m_adapters("twitter")) {
        return Error("unknown address", -1, 404);
    }
    const std::string action = "/oauth/authorize";
    if (request.method != "POST") {
        const Required token = Single(params, "oauth_token");
        if (!token.value) {
            return Redirect("/intf/twitter/oauth");
        }
        // The page's own value is the one-time form value handed over by the redirect.
        struct SignInForm form {
            "twitter", action, *token.value, {}, m_options.demo
        };
        return Html(SignInPage(form));
    }
    HttpResponse page;
    const auto result = TrySignIn(params, "twitter", action, page);
    if (!result) {
        return page;
    }
    const std::string reply = AuthorizationReply("twitter", *result);
    const int64_t now = Now();
    for (int attempt = 0; attempt < 20; ++attempt) {
        const std::string pin = RandomDigits(7);
        if (m_store.PutPendingUnique("pin", pin, reply, now, now + m_options.pinLifetime)) {
            return Html(PinPage(pin));
        }
    }
    return Html(MessagePage("Sign-in refused", "Too many sign-ins at once; please try again."),
                503);
}

bool RelayService::PinBurst(const std::string& remote, bool recordFailure) {
    const int64_t now = Now();
    const std::lock_guard lock(m_pinMutex);
    auto& times = m_wrongPins[remote];
    while (!times.empty() && times.front() <= now - 60) {
        times.pop_front();
    }
    if (recordFailure) {
        times.push_back(now);
    }
    const bool over = static_cast<int>(times.size()) >= m_options.wrongPinBurst;
    if (times.empty()) {
        m_wrongPins.erase(remote);
    }
    return over;
}

HttpResponse RelayService::TwitterCallback(const HttpRequest& request, const Params& params) {
    ReplyWriter w;
    if (PinBurst(request.remote, false)) {
        w.Error("too many wrong PINs; wait a minute", 3);
        return PlainReply(w.Finish());
    }
    const Required pin = Single(params, "pincode");
    const bool wellFormed = pin.value && pin.value->size() == 7 &&
                            std::all_of(pin.value->begin(), pin.value->end(),
                                        [](char c) { return c >= '0' && c <= '9'; });
    auto reply = wellFormed ? m_store.TakePending("pin", *pin.value, Now()) : std::nullopt;
    if (!reply) {
        PinBurst(request.remote, true);
        w.Error("wrong or expired PIN");
        return PlainReply(w.Finish());
    }
    return PlainReply(std::move(*reply));
}

bool RelayService::OverBudget(const std::string& token) {
    const int64_t minute = Now() / 60;
    const std::string key = m_cipher.LookupHash(token);
    const std::lock_guard lock(m_budgetMutex);
    if (m_budgets.size() > 100000) {
        std::erase_if(m_budgets, [minute](const auto& b) { return b.second.minute != minute; });
    }
    Budget& b = m_budgets[key];
    if (b.minute != minute) {
        b = {minute, 0};
    }
    return ++b.count > m_options.rateLimitPerMinute;
}

HttpResponse RelayService::Smart(const Params& params) {
    const Required sns = Single(params, "sns");
    const Required token = Single(params, "access_token");
    const Required secret = Single(params, "access_secret", true);
    const Required category = Single(params, "category");
    for (const Required* r : {&sns, &token, &secret, &category}) {
        if (!r->value && !r->problem.empty()) {
            return Error(r->problem);
        }
    }
    NetworkAdapter* adapter = m_adapters(*sns.value);
    if (!adapter) {
        return Error("unknown network");
    }
    if (std::find(kFunctions.begin(), kFunctions.end(), *category.value) == kFunctions.end()) {
        return Error("unknown category");
    }
    if (OverBudget(*token.value)) {
        return Error("too many requests; try again later", 3);
    }
    Params rest;
    for (const auto& p : params) {
        if (p.first != "sns" && p.first != "access_token" && p.first != "access_secret" &&
            p.first != "category") {
            rest.push_back(p);
        }
    }
    ReplyWriter w;
    adapter->Call(*category.value, rest,
                  {*token.value, secret.value ? *secret.value : std::string()}, w);
    return Xml(w.Finish());
}

HttpResponse RelayService::PictureFile(const HttpRequest& request, std::string_view name) {
    const auto picture = m_pictures(name);
    if (!picture) {
        HttpResponse res;
        res.status = 404;
        res.contentType = "text/plain; charset=utf-8";
        res.body = "no such picture\n";
        return res;
    }
    // An entity tag is sent quoted, whether or not the picture's own value carries the quotes.
    const std::string etag =
        picture->etag.starts_with('"') ? picture->etag : "\"" + picture->etag + "\"";
    HttpResponse res;
    res.headers.emplace_back("Cache-Control", "public, max-age=86400");
    res.headers.emplace_back("ETag", etag);
    if (!request.ifNoneMatch.empty() &&
        (request.ifNoneMatch == etag || request.ifNoneMatch.find(etag) != std::string::npos ||
         request.ifNoneMatch == "*")) {
        res.status = 304;
        res.contentType.clear();
        return res;
    }
    res.contentType = picture->contentType;
    res.body = picture->bytes;
    return res;
}

} // namespace quillet::relay
