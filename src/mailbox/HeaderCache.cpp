#include "mailbox/HeaderCache.h"

#include "base/StrUtils.h"
#include "net/Mspop.h"
#include "platform/DurableFile.h"
#include "platform/Paths.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace {
const char* const kMagic = "Postvigil header cache 1\n";
const char* const kServerTag = "server ";
const char* const kUserTag = "user ";
const char* const kFilePrefix = "headers-";
const char* const kFileSuffix = ".cache";

// One line without its LF; false when there is no LF.
bool TakeLine(std::string_view& text, std::string_view& line) {
    const std::size_t lf = text.find('\n');
    if (lf == std::string_view::npos) return false;
    line = text.substr(0, lf);
    text.remove_prefix(lf + 1);
    return true;
}

template <class T> bool ParseNumber(std::string_view text, T& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

bool OneLine(std::string_view text) {
    return text.find_first_of("\r\n") == std::string_view::npos;
}
} // namespace

THeaderCache::THeaderCache(std::string path, std::string server, std::string user)
    : FPath(std::move(path)), FServer(std::move(server)), FUser(std::move(user)) {}

std::string THeaderCache::FileFor(std::string_view server, std::string_view user) {
    std::string key(server);
    key.append("\n").append(user);
    return CacheDir() + kFilePrefix + StableNameHash(key) + kFileSuffix;
}

std::string THeaderCache::Header() const {
    return kMagic + (kServerTag + FServer) + "\n" + kUserTag + FUser + "\n";
}

void THeaderCache::Load() {
    FLoaded.clear();
    FLoadedOrder.clear();
    // A server or user that cannot be written on one line has no file of its own.
    if (!OneLine(FServer) || !OneLine(FUser)) return;
    std::error_code error;
    const auto size = std::filesystem::file_size(FPath, error);
    if (error || size > uint64_t(kMaxCacheFile)) return;
    std::string text;
    try {
        text = ReadWholeFile(FPath);
    } catch (const std::exception&) {
        return;
    }
    TEntries entries;
    std::vector<std::string> order;
    if (!Parse(text, entries, order)) return;
    FLoaded = std::move(entries);
    FLoadedOrder = std::move(order);
}

std::vector<THeaderCache::TListed> THeaderCache::Listing() const {
    std::vector<TListed> listed;
    listed.reserve(FLoadedOrder.size());
    for (const std::string& uidl : FLoadedOrder) {
        const TEntry& entry = FLoaded.at(uidl);
        listed.push_back({uidl, entry.Size, &entry.Block});
    }
    return listed;
}

bool THeaderCache::Parse(std::string_view text, TEntries& into,
                         std::vector<std::string>& order) const {
    const std::string header = Header();
    if (!text.starts_with(header)) return false;
    text.remove_prefix(header.size());
    // Each entry: "uidl size length" LF, then length bytes of block and an LF.
    while (!text.empty()) {
        std::string_view line;
        if (!TakeLine(text, line)) return false;
        const std::size_t b1 = line.find(' ');
        const std::size_t b2 = b1 == std::string_view::npos ? b1 : line.find(' ', b1 + 1);
        if (b2 == std::string_view::npos) return false;
        const std::string_view uidl = line.substr(0, b1);
        int64_t size = 0;
        std::size_t length = 0;
        if (!IsUniqueId(uidl) || !ParseNumber(line.substr(b1 + 1, b2 - b1 - 1), size) ||
            !ParseNumber(line.substr(b2 + 1), length) || length > kMaxCachedBlock ||
            text.size() < length + 1 || text[length] != '\n') {
            return false;
        }
        if (!into.emplace(std::string(uidl), TEntry{size, std::string(text.substr(0, length))})
                 .second) {
            return false;
        }
        order.emplace_back(uidl);
        text.remove_prefix(length + 1);
    }
    return true;
}

const std::string* THeaderCache::Find(const std::string& uidl, int64_t size) const {
    const auto it = FLoaded.find(uidl);
    if (it == FLoaded.end() || size < 0 || it->second.Size != size) return nullptr;
    return &it->second.Block;
}

void THeaderCache::Keep(const std::string& uidl, int64_t size, std::string_view block) {
    if (!IsUniqueId(uidl) || size < 0 || block.size() > kMaxCachedBlock) return;
    if (FKept.emplace(uidl, TEntry{size, std::string(block)}).second) FKeptOrder.push_back(uidl);
}

void THeaderCache::Save() {
    if (!OneLine(FServer) || !OneLine(FUser) || FKept == FLoaded) return;
    std::string text = Header();
    for (const std::string& uidl : FKeptOrder) {
        const TEntry& entry = FKept.at(uidl);
        text.append(uidl)
            .append(" ")
            .append(std::to_string(entry.Size))
            .append(" ")
            .append(std::to_string(entry.Block.size()))
            .append("\n")
            .append(entry.Block)
            .append("\n");
    }
    ForceDirectories(CacheDir());
    // Subjects and senders of the user's mail: for the user's eyes only.
    WriteFileDurably(FPath, text, true, 0600);
    FLoaded = FKept;
    FLoadedOrder = FKeptOrder;
}
