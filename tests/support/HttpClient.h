#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::test {

struct HttpResult {
    long status = 0;                            // 0 when no reply came
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    long newConnections = 0; // connections opened for this request (0: one was reused)

    std::string Header(const std::string& lowerName) const;
};

// A small libcurl client for tests: keeps its connection between requests (keep-alive),
// follows no redirects, sends extra header lines as given ("If-None-Match: x").
class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    HttpResult Get(const std::string& url, const std::vector<std::string>& headers = {});
    HttpResult Post(const std::string& url, const std::string& body,
                    const std::string& contentType = "application/x-www-form-urlencoded");

private:
    HttpResult Perform(const std::string& url, const std::string* body,
                       const std::vector<std::string>& headers);
    void* m_curl;
};

// One request on a fresh client.
HttpResult HttpGet(const std::string& url, const std::vector<std::string>& headers = {});
HttpResult HttpPost(const std::string& url, const std::string& body,
                    const std::string& contentType = "application/x-www-form-urlencoded");

// Percent-encodes everything but RFC 3986 unreserved characters.
std::string UrlEncode(std::string_view text);

} // namespace quillet::test
