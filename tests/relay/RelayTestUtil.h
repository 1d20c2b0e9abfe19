#pragma once

#include "tests/support/HttpClient.h"
#include "tests/support/RelayProcess.h"

#include <gtest/gtest.h>
#include <regex>
#include <string>

namespace quillet::test {

// The text of the first element <name ...>text</name> of a reply; "" when absent.
inline std::string Field(const std::string& xml, const std::string& name) {
    const std::regex re("<" + name + " type=\"[a-z]+\">([^<]*)</" + name + ">");
    std::smatch m;
    return std::regex_search(xml, m, re) ? m[1].str() : std::string();
}

// The relay under test; the test's CMakeLists names the binary.
inline RelayProcess::Options RelayOptions(std::vector<std::string> args = {"--demo"},
                                          std::string dataDir = {}) {
    RelayProcess::Options o;
    o.args = std::move(args);
    o.dataDir = std::move(dataDir);
    o.binary = QUILLET_RELAY_BINARY;
    return o;
}

inline bool IsError(const std::string& xml) {
    return xml.find("<_error ") != std::string::npos;
}

inline std::string FormState(const std::string& html) {
    const std::regex re("name=\"state\" value=\"([0-9a-f]+)\"");
    std::smatch m;
    return std::regex_search(html, m, re) ? m[1].str() : std::string();
}

struct SignedIn {
    std::string reply; // the authorization reply text
    std::string name, token, secret;
};

// Signs in on a sandbox network through its form and landing page, as the browser does.
inline SignedIn SignInAt(const RelayProcess& relay, const std::string& network,
                         const std::string& user = "demo", const std::string& password = "demo") {
    SignedIn out;
    const std::string base = relay.BaseUrl();
    if (network == "twitter") {
        const HttpResult to = HttpGet(base + "/intf/twitter/oauth");
        const HttpResult form = HttpGet(base + to.Header("location"));
        const HttpResult pinPage = HttpPost(base + "/oauth/authorize",
                                            "state=" + FormState(form.body) +
                                                "&screen_name=" + user + "&password=" + password);
        std::smatch m;
        const std::regex re("<code>([0-9]{7})</code>");
        if (!std::regex_search(pinPage.body, m, re)) {
            ADD_FAILURE() << "no PIN on the page: " << pinPage.body;
            return out;
        }
        out.reply = HttpGet(base + "/intf/twitter/callback?pincode=" + m[1].str()).body;
    } else {
        const HttpResult form = HttpGet(base + "/intf/" + network + "/oauth");
        const HttpResult landing = HttpPost(base + "/intf/" + network + "/oauth",
                                            "state=" + FormState(form.body) +
                                                "&screen_name=" + user + "&password=" + password);
        out.reply = HttpGet(base + landing.Header("location")).body;
    }
    out.name = Field(out.reply, "account_name");
    out.token = Field(out.reply, "access_token");
    out.secret = Field(out.reply, "access_secret");
    EXPECT_FALSE(out.token.empty()) << out.reply;
    return out;
}

inline std::string CreateUser(const RelayProcess& relay) {
    return Field(HttpGet(relay.BaseUrl() + "/user/operate?method=create").body, "ID");
}

inline std::string AddUrl(const RelayProcess& relay, const std::string& id,
                          const std::string& network, const SignedIn& s,
                          const std::string& expire = "2592000") {
    return relay.BaseUrl() + "/user/operate?method=add&ID=" + id + "&account_type=" + network +
           "&account_name=" + s.name + "&access_token=" + UrlEncode(s.token) +
           "&access_secret=" + UrlEncode(s.secret) + "&expire_in=" + expire;
}

} // namespace quillet::test
