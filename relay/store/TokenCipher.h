#pragma once

#include <memory>
#include <openssl/types.h>
#include <string>
#include <string_view>

namespace quillet::relay {

// Keeps secrets out of the database in plain text: AES-256-GCM for values the relay must read
// back (tokens, secrets, user IDs), a keyed hash for values it only looks up (IDs, PINs, codes).
class TokenCipher {
public:
    // Reads the 32-byte key from path, creating it (mode 0600) when the file is missing.
    static TokenCipher FromKeyFile(const std::string& path);
    explicit TokenCipher(std::string key);

    // nonce (12 bytes) + ciphertext + tag (16 bytes). Context binds the value to its place,
    // so a value copied into another row fails to decrypt.
    std::string Encrypt(std::string_view plain, std::string_view context) const;
    // Throws std::runtime_error when the value was altered or belongs to another context.
    std::string Decrypt(std::string_view sealed, std::string_view context) const;
    // HMAC-SHA-256 of the value, hex encoded.
    std::string LookupHash(std::string_view value) const;

private:
    std::string m_key;
    // Keyed once: every lookup hash starts from a copy instead of fetching HMAC and setting up
    // the key again, which cost more than hashing the value itself.
    std::shared_ptr<EVP_MAC_CTX> m_mac;
};

// Random bytes from the system's generator, hex encoded (2 characters per byte).
std::string RandomHex(size_t bytes);
// A random decimal number of exactly that many digits (leading zeros allowed).
std::string RandomDigits(size_t digits);
// Comparison whose time does not depend on where the texts differ.
bool SameSecret(std::string_view a, std::string_view b);

} // namespace quillet::relay
