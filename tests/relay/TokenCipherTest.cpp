#include "relay/store/TokenCipher.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <thread>
#include <vector>

using namespace quillet::relay;

namespace {

std::string RawHmac(std::string_view key, std::string_view data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), out, &len);
    return std::string(reinterpret_cast<char*>(out), len);
}

// Lookup hashes are what stored rows are found by: they must stay HMAC-SHA-256 under the key
// derived from the file's key, or a store written before could no longer be read.
std::string ExpectedLookupHash(const std::string& key, std::string_view value) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : RawHmac(RawHmac(key, "quillet lookup hash"), value)) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

const std::string kKey(32, 'k');

} // namespace

TEST(TokenCipher, LookupHashIsTheKeyedHmacOfTheValue) {
    const TokenCipher cipher(kKey);
    const std::string values[] = {"", "a", std::string("with\0zero", 9), RandomHex(32),
                                  std::string(1000, 'x')};
    for (const std::string& value : values) {
        EXPECT_EQ(cipher.LookupHash(value), ExpectedLookupHash(kKey, value)) << value.size();
        EXPECT_EQ(cipher.LookupHash(value), cipher.LookupHash(value)) << "repeatable";
    }
    const TokenCipher other(std::string(32, 'j'));
    EXPECT_NE(other.LookupHash("a"), cipher.LookupHash("a")) << "another key, another hash";
    const TokenCipher moved = TokenCipher(kKey);
    EXPECT_EQ(moved.LookupHash("a"), ExpectedLookupHash(kKey, "a"));
}

TEST(TokenCipher, LookupHashesFromManyThreadsAtOnce) {
    const TokenCipher cipher(kKey);
    constexpr int kThreads = 4;
    constexpr int kPerThread = 300;
    std::vector<std::vector<std::string>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                got[t].push_back(cipher.LookupHash(std::to_string(t * kPerThread + i)));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kPerThread; ++i) {
            const std::string value = std::to_string(t * kPerThread + i);
            ASSERT_EQ(got[t][i], ExpectedLookupHash(kKey, value)) << value;
        }
    }
}
