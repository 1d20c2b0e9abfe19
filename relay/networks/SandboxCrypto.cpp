#include "relay/networks/SandboxCrypto.h"

#include <charconv>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <stdexcept>
#include <vector>

namespace quillet::relay {

namespace {

constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;
constexpr int kMaxIterations = 10000000;

std::string Hex(const unsigned char* data, size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out(size * 2, '\0');
    for (size_t i = 0; i < size; ++i) {
        out[2 * i] = digits[data[i] >> 4];
        out[2 * i + 1] = digits[data[i] & 0x0F];
    }
    return out;
}

std::vector<unsigned char> RandomBytes(size_t size) {
    std::vector<unsigned char> bytes(size);
    if (RAND_bytes(bytes.data(), static_cast<int>(size)) != 1) {
        throw std::runtime_error("no random bytes available");
    }
    return bytes;
}

std::vector<unsigned char> Pbkdf2(std::string_view password, std::string_view salt,
                                  int iterations) {
    std::vector<unsigned char> out(kHashBytes);
    const int ok = PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                                     reinterpret_cast<const unsigned char*>(salt.data()),
                                     static_cast<int>(salt.size()), iterations, EVP_sha256(),
                                     static_cast<int>(out.size()), out.data());
    if (ok != 1) {
        throw std::runtime_error("password hashing failed");
    }
    return out;
}

// Fetched once: EVP_sha256() makes every hash look its implementation up again, which cost
// more than hashing a token.
const EVP_MD* Sha256() {
    static const EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return md;
}

} // namespace

std::string RandomToken() {
    const auto bytes = RandomBytes(32);
    return Hex(bytes.data(), bytes.size());
}

std::string Sha256Hex(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &size, Sha256(), nullptr) != 1) {
        throw std::runtime_error("hashing failed");
    }
    return Hex(digest, size);
}

std::string HashPassword(std::string_view password, int iterations) {
    const auto saltBytes = RandomBytes(kSaltBytes);
    const std::string salt = Hex(saltBytes.data(), saltBytes.size());
    const auto hash = Pbkdf2(password, salt, iterations);
    return "pbkdf2-sha256$" + std::to_string(iterations) + "$" + salt + "$" +
           Hex(hash.data(), hash.size());
}

bool VerifyPassword(std::string_view password, std::string_view stored) {
    constexpr std::string_view prefix = "pbkdf2-sha256$";
    if (stored.substr(0, prefix.size()) != prefix) {
        return false;
    }
    stored.remove_prefix(prefix.size());
    const size_t a = stored.find('$');
    const size_t b = a == std::string_view::npos ? a : stored.find('$', a + 1);
    if (b == std::string_view::npos) {
        return false;
    }
    int iterations = 0;
    const auto [end, ec] = std::from_chars(stored.data(), stored.data() + a, iterations);
    if (ec != std::errc() || end != stored.data() + a || iterations < 1 ||
        iterations > kMaxIterations) {
        return false;
    }
    const std::string_view salt = stored.substr(a + 1, b - a - 1);
    const std::string_view expected = stored.substr(b + 1);
    const auto hash = Pbkdf2(password, salt, iterations);
    const std::string actual = Hex(hash.data(), hash.size());
    return actual.size() == expected.size() &&
           CRYPTO_memcmp(actual.data(), expected.data(), actual.size()) == 0;
}

} // namespace quillet::relay
