#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace quillet {

class TNodeDict;
class TGraphic;

// One request on its own worker thread. The caller owns Stream and must not touch it until
// the thread has finished; the finished flag is the only value shared meanwhile.
class TWebThread {
public:
    TWebThread(std::string url, std::string body, std::string& stream);
    ~TWebThread(); // joins
    TWebThread(const TWebThread&) = delete;
    TWebThread& operator=(const TWebThread&) = delete;

    void Start();
    bool Finished() const { return m_finished.load(std::memory_order_acquire); }
    // Keeps the installed message pump dispatching until the worker has finished, then joins.
    void WaitFor();

    std::string& Stream;
    const std::string URL;
    const std::string PostBody;

private:
    void Execute();

    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

// Time limits of every request: connecting, and a stall with no byte received. A request that
// hits either ends with what arrived before it (usually nothing).
struct TRequestTimeouts {
    long connectMs = 10000;
    long stallSeconds = 30;
};
void SetRequestTimeouts(TRequestTimeouts timeouts);
TRequestTimeouts RequestTimeouts();

// A reply larger than this is dropped whole: the request then counts as unanswered.
constexpr size_t MaxReplyBytes = 64u << 20;

// The byte transfers, run on the calling thread; both append the response body to stream
// whatever the HTTP status.
void HttpPost(const std::string& url, const std::string& body, std::string& stream);
void HttpGet(const std::string& url, std::string& stream);

void RequestStream(const std::string& url, std::string& stream);
std::string RequestText(const std::string& url);
// The reply read as a tree, or nullptr when nothing readable came back.
std::unique_ptr<TNodeDict> RequestTree(const std::string& url);
// As RequestTree, with the relay's error codes mapped: 0 and 1 are retried (bounded), 2 raises
// EAccountExpiredError, 3 ERateLimitError; no tree at all raises EConnectError with the URL.
std::unique_ptr<TNodeDict> RequestChecked(const std::string& url);
// The picture at url, from the picture cache when there; nullptr when nothing usable arrived.
std::unique_ptr<TGraphic> DownloadPicture(const std::string& url);

// The cache file name of a picture URL: FileNameFromURL, or a stable hash of it when that is
// longer than a file name may be.
std::string PictureCacheKey(const std::string& url);

} // namespace quillet
