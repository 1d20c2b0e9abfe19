#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "core/Global.h"

namespace quillet {

class TGraphic;
class TNodeDict;

// Per relay user and per linked account: downloaded pictures (kept for good) and recent
// timeline replies (served for five minutes). Refuses all work with EAbort until a user and an
// account are set.
class TCache {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    void SetUserID(const std::string& id);
    void SetAccountType(TAccount_Type accountType);
    void SetAccountName(const std::string& name);

    std::unique_ptr<TGraphic> LoadPicture(const std::string& key);
    bool SavePicture(const std::string& key, const TGraphic& picture);
    std::unique_ptr<TNodeDict> LoadPublicTimeline();
    bool SavePublicTimeline(const TNodeDict* reply);
    std::unique_ptr<TNodeDict> LoadTimeline(const std::string& id);
    bool SaveTimeline(const std::string& id, const TNodeDict* reply);

    bool IsStale(const std::string& fileName, int minutes, bool deleteStale);
    std::chrono::system_clock::time_point FileCreationTime(const std::string& fileName) const;

    const std::string& UserID() const { return m_userID; }
    const std::string& PicturesDir() const { return m_picturesDir; }
    const std::string& ContextsDir() const { return m_contextsDir; }
    TAccount_Type AccountType() const { return m_accountType; }
    const std::string& AccountName() const { return m_accountName; }

    // The time the freshness of reply files is measured against; tests move it.
    void SetClock(Clock clock) { m_clock = std::move(clock); }

private:
    void UpdatePaths();
    void CheckCacheReady() const;
    bool IsOlderThan(std::chrono::system_clock::time_point created, int minutes) const;
    std::unique_ptr<TNodeDict> LoadReply(const std::string& fileName);
    bool SaveReply(const std::string& fileName, const TNodeDict* reply);

    std::string m_userID;
    std::string m_picturesDir;
    std::string m_contextsDir;
    TAccount_Type m_accountType = atSina;
    std::string m_accountName;
    Clock m_clock = [] { return std::chrono::system_clock::now(); };
};

// The process-wide cache object.
TCache& Cache();

// Minutes a timeline reply file stays fresh.
constexpr int ReplyFreshMinutes = 5;

} // namespace quillet
