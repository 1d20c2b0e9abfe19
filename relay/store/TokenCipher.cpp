#include "relay/store/TokenCipher.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet::relay {

namespace {

constexpr size_t kKeySize = 32;
constexpr size_t kNonceSize = 12;
constexpr size_t kTagSize = 16;

std::string RandomBytes(size_t n) {
    std::string out(n, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(n)) != 1) {
        throw std::runtime_error("no random bytes available");
    }
    return out;
}

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out(bytes.size() * 2, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        out[2 * i] = digits[c >> 4];
        out[2 * i + 1] = digits[c & 15];
    }
    return out;
}

std::string Hmac(std::string_view key, std::string_view data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), out, &len);
    return std::string(reinterpret_cast<char*>(out), len);
}

std::string ReadKey(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot read key file " + path + ": " + std::strerror(errno));
    }
    std::string key(kKeySize + 1, '\0');
    const ssize_t n = ::read(fd, key.data(), key.size());
    ::close(fd);
    if (n != static_cast<ssize_t>(kKeySize)) {
        throw std::runtime_error("key file " + path + " does not hold a 32-byte key");
    }
    key.resize(kKeySize);
    return key;
}

// O_EXCL: two relays starting together must not each write their own key.
bool CreateKey(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) {
            return false;
        }
        throw std::runtime_error("cannot create key file " + path + ": " + std::strerror(errno));
    }
    const std::string key = RandomBytes(kKeySize);
    const bool ok =
        ::write(fd, key.data(), key.size()) == static_cast<ssize_t>(key.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) {
        ::unlink(path.c_str());
        throw std::runtime_error("cannot write key file " + path);
    }
    return true;
}

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;
using MacCtx = std::unique_ptr<EVP_MAC_CTX, decltype(&EVP_MAC_CTX_free)>;

// An HMAC-SHA-256 context ready to hash under key.
std::shared_ptr<EVP_MAC_CTX> KeyedHmac(std::string_view key) {
    std::unique_ptr<EVP_MAC, decltype(&EVP_MAC_free)> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr),
                                                          EVP_MAC_free);
    MacCtx ctx(mac ? EVP_MAC_CTX_new(mac.get()) : nullptr, EVP_MAC_CTX_free);
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    if (!ctx || EVP_MAC_init(ctx.get(), reinterpret_cast<const unsigned char*>(key.data()),
                             key.size(), params) != 1) {
        throw std::runtime_error("cannot set up the lookup hash");
    }
    return std::shared_ptr<EVP_MAC_CTX>(ctx.release(), EVP_MAC_CTX_free);
}

} // namespace

TokenCipher TokenCipher::FromKeyFile(const std::string& path) {
    CreateKey(path);
    return TokenCipher(ReadKey(path));
}

TokenCipher::TokenCipher(std::string key) : m_key(std::move(key)) {
    if (m_key.size() != kKeySize) {
        throw std::invalid_argument("the token key must be 32 bytes");
    }
    m_mac = KeyedHmac(Hmac(m_key, "quillet lookup hash"));
}

std::string TokenCipher::Encrypt(std::string_view plain, std::string_view context) const {
    const std::string nonce = RandomBytes(kNonceSize);
    CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    std::string out = nonce;
    out.resize(kNonceSize + plain.size() + kTagSize);
    auto* dst = reinterpret_cast<unsigned char*>(out.data()) + kNonceSize;
    int len = 0;
    int total = 0;
    const bool ok =
        ctx &&
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr,
                           reinterpret_cast<const unsigned char*>(m_key.data()),
                           reinterpret_cast<const unsigned char*>(nonce.data())) == 1 &&
        EVP_EncryptUpdate(ctx.get(), nullptr, &len,
                          reinterpret_cast<const unsigned char*>(context.data()),
                          static_cast<int>(context.size())) == 1 &&
        EVP_EncryptUpdate(ctx.get(), dst, &len,
                          reinterpret_cast<const unsigned char*>(plain.data()),
                          static_cast<int>(plain.size())) == 1 &&
        (total = len, EVP_EncryptFinal_ex(ctx.get(), dst + total, &len) == 1) &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, dst + plain.size()) == 1;
    if (!ok) {
        throw std::runtime_error("encryption failed");
    }
    return out;
}

std::string TokenCipher::Decrypt(std::string_view sealed, std::string_view context) const {
    if (sealed.size() < kNonceSize + kTagSize) {
        throw std::runtime_error("sealed value too short");
    }
    const size_t n = sealed.size() - kNonceSize - kTagSize;
    const auto* src = reinterpret_cast<const unsigned char*>(sealed.data());
    std::string plain(n, '\0');
    auto* dst = reinterpret_cast<unsigned char*>(plain.data());
    std::string tag(sealed.substr(kNonceSize + n));
    CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int len = 0;
    const bool ok =
        ctx &&
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr,
                           reinterpret_cast<const unsigned char*>(m_key.data()), src) == 1 &&
        EVP_DecryptUpdate(ctx.get(), nullptr, &len,
                          reinterpret_cast<const unsigned char*>(context.data()),
                          static_cast<int>(context.size())) == 1 &&
        EVP_DecryptUpdate(ctx.get(), dst, &len, src + kNonceSize, static_cast<int>(n)) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag.data()) == 1 &&
        EVP_DecryptFinal_ex(ctx.get(), dst + len, &len) == 1;
    if (!ok) {
        throw std::runtime_error("sealed value does not decrypt");
    }
    return plain;
}

std::string TokenCipher::LookupHash(std::string_view value) const {
    // The shared context is only read by the copy, so threads may hash at the same time.
    MacCtx ctx(EVP_MAC_CTX_dup(m_mac.get()), EVP_MAC_CTX_free);
    unsigned char out[EVP_MAX_MD_SIZE];
    size_t len = 0;
    if (!ctx ||
        EVP_MAC_update(ctx.get(), reinterpret_cast<const unsigned char*>(value.data()),
                       value.size()) != 1 ||
        EVP_MAC_final(ctx.get(), out, &len, sizeof out) != 1) {
        throw std::runtime_error("lookup hash failed");
    }
    return Hex(std::string_view(reinterpret_cast<const char*>(out), len));
}

std::string RandomHex(size_t bytes) {
    return Hex(RandomBytes(bytes));
}

std::string RandomDigits(size_t digits) {
    std::string out;
    while (out.size() < digits) {
        // Bytes of 250 and above are dropped, so every digit is equally likely.
        for (unsigned char c : RandomBytes(digits)) {
            if (c < 250 && out.size() < digits) {
                out += static_cast<char>('0' + c % 10);
            }
        }
    }
    return out;
}

bool SameSecret(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace quillet::relay
