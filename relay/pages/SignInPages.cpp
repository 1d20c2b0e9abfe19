#include "relay/pages/SignInPages.h"

namespace quillet::relay {

namespace {

std::string Head(std::string_view title) {
    std::string out = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>";
    out += HtmlEscape(title);
    out += "</title><style>body{font-family:sans-serif;margin:24px}label{display:block;"
           "margin:8px 0}.note{color:#666}.error{color:#b00}</style></head><body>";
    return out;
}

std::string DisplayName(std::string_view network) {
    if (network == "sina") {
        return "Sina Weibo (sandbox)";
    }
    if (network == "twitter") {
        return "Twitter (sandbox)";
    }
    if (network == "facebook") {
        return "Facebook (sandbox)";
    }
    return std::string(network);
}

} // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string SignInPage(const SignInForm& form) {
    const std::string name = DisplayName(form.network);
    std::string out = Head("Sign in to " + name);
    out += "<h1>Sign in to " + HtmlEscape(name) + "</h1>";
    if (!form.message.empty()) {
        out += "<p class=\"error\">" + HtmlEscape(form.message) + "</p>";
    }
    if (form.demo) {
        out += "<p class=\"note\">Demo account: screen name <b>demo</b>, password <b>demo</b></p>";
    }
    out += "<form method=\"post\" action=\"" + HtmlEscape(form.action) + "\">";
    out += "<input type=\"hidden\" name=\"state\" value=\"" + HtmlEscape(form.state) + "\">";
    out += "<label>Screen name <input type=\"text\" name=\"screen_name\" autofocus></label>";
    out += "<label>Password <input type=\"password\" name=\"password\"></label>";
    out += "<button type=\"submit\">Sign in</button></form></body></html>";
    return out;
}

std::string PinPage(std::string_view pin) {
    std::string out = Head("Authorized");
    out += "<h1>You have authorized Quillet</h1><p>Enter this PIN to complete the "
           "authorization:</p><p><code>" +
           HtmlEscape(pin) + "</code></p></body></html>";
    return out;
}

std::string MessagePage(std::string_view title, std::string_view text) {
    return Head(title) + "<h1>" + HtmlEscape(title) + "</h1><p>" + HtmlEscape(text) +
           "</p></body></html>";
}

} // namespace quillet::relay
