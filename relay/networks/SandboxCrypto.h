#pragma once

#include <string>
#include <string_view>

namespace quillet::relay {

// Hex text of 32 random bytes from the system's generator (tokens, secrets).
std::string RandomToken();

// Hex SHA-256 of the text: tokens are kept only in this form, so the store never holds one.
std::string Sha256Hex(std::string_view text);

// "pbkdf2-sha256$ITERATIONS$SALT$HASH" with a fresh random salt.
std::string HashPassword(std::string_view password, int iterations = 100000);

// Whether the password matches a stored HashPassword text; malformed stored text never matches.
bool VerifyPassword(std::string_view password, std::string_view stored);

} // namespace quillet::relay
