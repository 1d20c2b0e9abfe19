#include "tests/support/HttpClient.h"

#include <algorithm>
#include <cctype>
#include <curl/curl.h>
#include <mutex>
#include <stdexcept>

namespace quillet::test {

namespace {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    static_cast<HttpResult*>(user)->body.append(data, size * count);
    return size * count;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* result = static_cast<HttpResult*>(user);
    const std::string line(data, size * count);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::string value = line.substr(colon + 1);
        const size_t first = value.find_first_not_of(" \t");
        const size_t last = value.find_last_not_of(" \t\r\n");
        value = first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
        result->headers[name] = value;
    }
    return size * count;
}

} // namespace

std::string HttpResult::Header(const std::string& lowerName) const {
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

HttpClient::HttpClient() {
    GlobalInit();
    m_curl = curl_easy_init();
    if (!m_curl) {
        throw std::runtime_error("curl_easy_init failed");
    }
}

HttpClient::~HttpClient() {
    curl_easy_cleanup(static_cast<CURL*>(m_curl));
}

HttpResult HttpClient::Perform(const std::string& url, const std::string* body,
                               const std::vector<std::string>& headers) {
    auto* curl = static_cast<CURL*>(m_curl);
    HttpResult result;
    curl_slist* list = nullptr;
    for (const auto& h : headers) {
        list = curl_slist_append(list, h.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    if (body) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
    } else {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
        curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &result.newConnections);
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(list);
    return result;
}

HttpResult HttpClient::Get(const std::string& url, const std::vector<std::string>& headers) {
    return Perform(url, nullptr, headers);
}

HttpResult HttpClient::Post(const std::string& url, const std::string& body,
                            const std::string& contentType) {
    return Perform(url, &body, {"Content-Type: " + contentType});
}

HttpResult HttpGet(const std::string& url, const std::vector<std::string>& headers) {
    HttpClient client;
    return client.Get(url, headers);
}

HttpResult HttpPost(const std::string& url, const std::string& body,
                    const std::string& contentType) {
    HttpClient client;
    return client.Post(url, body, contentType);
}

std::string UrlEncode(std::string_view text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

} // namespace quillet::test
