#include "net/web_connect.h"

#include <QCryptographicHash>
#include <chrono>
#include <curl/curl.h>
#include <mutex>

#include "core/Global.h"
#include "data/XMLObj.h"
#include "net/Cache_.h"
#include "platform/Graphic.h"
#include "platform/MessagePump.h"

namespace quillet {

namespace {

constexpr int MaxRetries = 3;
constexpr size_t MaxFileNameBytes = 255;
constexpr const char* AgentName = "Quillet/0.1";

std::atomic<long> g_connectMs{TRequestTimeouts{}.connectMs};
std::atomic<long> g_stallSeconds{TRequestTimeouts{}.stallSeconds};

void EnsureCurlInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t AppendBody(char* data, size_t size, size_t count, void* userdata) {
    auto* stream = static_cast<std::string*>(userdata);
    const size_t bytes = size * count;
    if (stream->size() + bytes > MaxReplyBytes)
        return 0; // aborts the transfer
    stream->append(data, bytes);
    return bytes;
}

using CurlHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;

CurlHandle OpenRequest(const std::string& url, std::string& stream) {
    EnsureCurlInitialised();
    CurlHandle curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        return curl;
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_USERAGENT, AgentName);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, g_connectMs.load());
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, g_stallSeconds.load());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &AppendBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &stream);
    return curl;
}

void Perform(CURL* curl, std::string& stream) {
    const size_t before = stream.size();
    if (curl_easy_perform(curl) == CURLE_WRITE_ERROR)
        stream.resize(before); // an over-long reply is dropped whole, never half-read
}

// Keeps the installed pump dispatching while the calling thread waits for done.
void WaitPumping(const std::function<bool()>& done) {
    if (TMessagePump* pump = CurrentMessagePump())
        pump->Run(done);
}

void BackOff(int attempt) {
    const auto delay = std::chrono::milliseconds(100 << attempt);
    std::atomic<bool> slept{false};
    std::thread sleeper([&] {
        std::this_thread::sleep_for(delay);
        slept.store(true, std::memory_order_release);
        if (TMessagePump* pump = CurrentMessagePump())
            pump->Wake();
    });
    WaitPumping([&] { return slept.load(std::memory_order_acquire); });
    sleeper.join();
}

// The numeric "_error_code" of an error reply, or false when the reply is no error reply
// or its code is not a number.
bool ErrorCodeOf(TNodeDict& dict, int64_t& code) {
    if (!dict.ContainsKey("_error"))
        return false;
    TNode* node = dict.GetByKey("_error_code");
    if (!node)
        return false;
    try {
        code = node->AsInteger();
        return true;
    } catch (const EConvertError&) {
        return false;
    }
}

} // namespace

void SetRequestTimeouts(TRequestTimeouts timeouts) {
    g_connectMs = timeouts.connectMs;
    g_stallSeconds = timeouts.stallSeconds;
}

TRequestTimeouts RequestTimeouts() {
    return {g_connectMs.load(), g_stallSeconds.load()};
}

TWebThread::TWebThread(std::string url, std::string body, std::string& stream)
    : Stream(stream), URL(std::move(url)), PostBody(std::move(body)) {}

TWebThread::~TWebThread() {
    if (m_thread.joinable())
        m_thread.join();
}

void TWebThread::Start() {
    m_thread = std::thread([this] { Execute(); });
}

void TWebThread::Execute() {
    try {
        if (!PostBody.empty())
            HttpPost(URL, PostBody, Stream);
        else
            HttpGet(URL, Stream);
    } catch (...) {
        // The stream keeps what arrived before the failure; the wait must end regardless.
    }
    m_finished.store(true, std::memory_order_release);
    if (TMessagePump* pump = CurrentMessagePump())
        pump->Wake();
}

void TWebThread::WaitFor() {
    WaitPumping([this] { return Finished(); });
    if (m_thread.joinable())
        m_thread.join();
}

void HttpPost(const std::string& url, const std::string& body, std::string& stream) {
    CurlHandle curl = OpenRequest(url, stream);
    if (!curl)
        return;
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body.data());
    Perform(curl.get(), stream);
}

void HttpGet(const std::string& url, std::string& stream) {
    CurlHandle curl = OpenRequest(url, stream);
    if (!curl)
        return;
    Perform(curl.get(), stream);
}

void RequestStream(const std::string& url, std::string& stream) {
    TWebThread thread(url, "", stream);
    thread.Start();
    thread.WaitFor();
}

std::string RequestText(const std::string& url) {
    std::string text;
    RequestStream(url, text);
    return text;
}

std::unique_ptr<TNodeDict> RequestTree(const std::string& url) {
    try {
        return ParseReply(RequestText(url));
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::unique_ptr<TNodeDict> RequestChecked(const std::string& url) {
    for (int attempt = 0;; ++attempt) {
        std::unique_ptr<TNodeDict> tree = RequestTree(url);
        if (!tree)
            throw EConnectError(url);
        int64_t code = 0;
        if (!ErrorCodeOf(*tree, code))
            return tree;
        if (code == 2)
            throw EAccountExpiredError();
        if (code == 3)
            throw ERateLimitError();
        if (code != 0 && code != 1)
            return tree;
        if (attempt == MaxRetries)
            throw EConnectError(url);
        BackOff(attempt);
    }
}

std::string PictureCacheKey(const std::string& url) {
    std::string key = FileNameFromURL(url);
    if (key.size() <= MaxFileNameBytes)
        return key;
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(url), QCryptographicHash::Sha256);
    return "sha256-" + digest.toHex().toStdString();
}

std::unique_ptr<TGraphic> DownloadPicture(const std::string& url) {
    const std::string key = PictureCacheKey(url);
    if (std::unique_ptr<TGraphic> cached = Cache().LoadPicture(key))
        return cached;
    std::string bytes;
    RequestStream(url, bytes);
    try {
        std::unique_ptr<TGraphic> picture = PictureFromStream(bytes);
        if (picture)
            Cache().SavePicture(key, *picture);
        return picture;
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception&) {
        return LoadPictureFile(std::string(BrokenImageFile));
    }
}

} // namespace quillet
