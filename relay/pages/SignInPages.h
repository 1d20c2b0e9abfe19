#pragma once

#include <string>
#include <string_view>

namespace quillet::relay {

std::string HtmlEscape(std::string_view text);

struct SignInForm {
    std::string network; // "sina", "twitter", "facebook"
    std::string action;  // where the form posts to, already a safe path
    std::string state;   // the one-time anti-forgery value
    std::string message; // shown above the form when not empty (a refused attempt)
    bool demo = false;   // show the demo credentials
};

// The sandbox network's sign-in page: screen name, password and the hidden one-time value.
std::string SignInPage(const SignInForm& form);

// Twitter's page after approval: the PIN inside <code>, which the client's dialog looks for.
std::string PinPage(std::string_view pin);

// A plain page for refusals a person reads in the browser (an expired form, a bad request).
std::string MessagePage(std::string_view title, std::string_view text);

} // namespace quillet::relay
