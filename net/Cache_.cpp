#include "net/Cache_.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <sys/stat.h>

#include "data/XMLObj.h"
#include "platform/Graphic.h"

namespace quillet {

namespace fs = std::filesystem;

namespace {

// A user ID or account name comes from the relay: keep it one folder name, never a way out
// of the cache ("..", "/").
std::string FolderName(const std::string& component) {
    std::string name = FileNameFromURL(component);
    if (name.empty() || name == "." || name == "..")
        name = std::string(name.size() + 1, '_');
    return name;
}

std::string ReadFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw EFileError("Cannot open file \"" + fileName + "\"");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TCache& Cache() {
    static TCache cache;
    return cache;
}

void TCache::SetUserID(const std::string& id) {
    m_userID = id;
    UpdatePaths();
}

void TCache::SetAccountType(TAccount_Type accountType) {
    m_accountType = accountType;
    UpdatePaths();
}

void TCache::SetAccountName(const std::string& name) {
    m_accountName = name;
    UpdatePaths();
}

void TCache::UpdatePaths() {
    if (m_userID.empty() || m_accountName.empty())
        return;
    const std::string base = CachePath + "/" + FolderName(m_userID) + "/" +
                             std::string(AccountTypeNames[m_accountType]) + "/" +
                             FolderName(m_accountName);
    m_picturesDir = base + "/Pictures";
    m_contextsDir = base + "/Contexts";
    std::error_code ignored; // a folder that cannot be made shows up as failing loads and saves
    fs::create_directories(m_picturesDir, ignored);
    fs::create_directories(m_contextsDir, ignored);
}

void TCache::CheckCacheReady() const {
    if (m_picturesDir.empty() || m_contextsDir.empty())
        throw EAbort();
}

std::chrono::system_clock::time_point TCache::FileCreationTime(const std::string& fileName) const {
    struct statx st{};
    if (statx(AT_FDCWD, fileName.c_str(), 0, STATX_BTIME | STATX_MTIME | STATX_TYPE, &st) != 0 ||
        S_ISDIR(st.stx_mode))
        return std::chrono::system_clock::time_point::min();
    // File systems without a birth time fall back to the last modification.
    const statx_timestamp& t = (st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_mtime;
    return std::chrono::system_clock::time_point(std::chrono::seconds(t.tv_sec) +
                                                 std::chrono::nanoseconds(t.tv_nsec));
}

bool TCache::IsStale(const std::string& fileName, int minutes, bool deleteStale) {
    if (!fs::exists(fileName))
        return true;
    if (!IsOlderThan(FileCreationTime(fileName), minutes))
        return false;
    if (deleteStale) {
        std::error_code ignored;
        fs::remove(fileName, ignored);
    }
    return true;
}

bool TCache::IsOlderThan(std::chrono::system_clock::time_point created, int minutes) const {
    if (created == std::chrono::system_clock::time_point::min())
        return true;
    const auto now = m_clock();
    const auto age = created > now ? created - now : now - created;
    return std::chrono::duration_cast<std::chrono::minutes>(age).count() >= minutes;
}

std::unique_ptr<TGraphic> TCache::LoadPicture(const std::string& key) {
    CheckCacheReady();
    try {
        return PictureFromStream(ReadFile(m_picturesDir + "/" + key));
    } catch (const std::exception&) {
        return nullptr;
    }
}

bool TCache::SavePicture(const std::string& key, const TGraphic& picture) {
    CheckCacheReady();
    picture.SaveToFile(m_picturesDir + "/" + key);
    return true;
}

std::unique_ptr<TNodeDict> TCache::LoadPublicTimeline() {
    return LoadReply("public.ptl");
}

bool TCache::SavePublicTimeline(const TNodeDict* reply) {
    return SaveReply("public.ptl", reply);
}

std::unique_ptr<TNodeDict> TCache::LoadTimeline(const std::string& id) {
    return LoadReply(FileNameFromURL(id) + ".tl");
}

bool TCache::SaveTimeline(const std::string& id, const TNodeDict* reply) {
    return SaveReply(FileNameFromURL(id) + ".tl", reply);
}

std::unique_ptr<TNodeDict> TCache::LoadReply(const std::string& fileName) {
    CheckCacheReady();
    const std::string path = m_contextsDir + "/" + fileName;
    if (IsStale(path, ReplyFreshMinutes, true))
        return nullptr;
    try {
        pugi::xml_document document;
        if (!document.load_file(path.c_str()))
            return nullptr;
        return ReadDocument(document);
    } catch (const std::exception&) {
        return nullptr;
    }
}

bool TCache::SaveReply(const std::string& fileName, const TNodeDict* reply) {
    CheckCacheReady();
    const std::string path = m_contextsDir + "/" + fileName;
    if (!IsStale(path, ReplyFreshMinutes, true))
        return true;
    if (!reply)
        return false;
    pugi::xml_document document;
    const std::string text = reply->XmlText();
    if (!document.load_buffer(text.data(), text.size()) || !document.document_element())
        return false;
    // Written beside the file and renamed over it, so a reader never sees half a reply.
    const std::string temporary = path + ".tmp";
    if (!document.save_file(temporary.c_str(), "", pugi::format_raw, pugi::encoding_utf8))
        return false;
    std::error_code error;
    fs::rename(temporary, path, error);
    return !error;
}

} // namespace quillet
