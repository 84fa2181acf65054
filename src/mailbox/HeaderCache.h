// The header blocks of one account's messages from earlier checks, keyed by the server's
// unique id (UIDL) and checked against the size: a message seen before is listed from here
// without asking the server for its header again. The file lives in the user's cache folder
// and names its server and user; anything in it that does not read back exactly (another
// account's file, a cut or altered file) is ignored, never half trusted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Blocks larger than this are not kept: such a message is asked for again.
inline constexpr std::size_t kMaxCachedBlock = 64 * 1024;
// A cache file larger than this is not read.
inline constexpr int64_t kMaxCacheFile = 256 * 1024 * 1024;

class THeaderCache {
public:
    // server names the host and port, as one text.
    THeaderCache(std::string path, std::string server, std::string user);

    // The file for server and user in the user's cache folder.
    static std::string FileFor(std::string_view server, std::string_view user);

    // Reads the file; a missing, unreadable, foreign or damaged file leaves the cache empty.
    void Load();
    // What the file holds, in the order the server listed it when the file was written:
    // the last listing of the account. The blocks live as long as the cache is not loaded again.
    struct TListed {
        std::string Uidl;
        int64_t Size = -1;
        const std::string* Block = nullptr;
    };
    std::vector<TListed> Listing() const;
    // The block kept for uidl when its size matches; nullptr otherwise.
    const std::string* Find(const std::string& uidl, int64_t size) const;
    // Keeps uidl's block for the next Save. Only what is kept in this run is saved: the
    // entries of messages no longer on the server go.
    void Keep(const std::string& uidl, int64_t size, std::string_view block);
    // Writes the kept entries (temporary file, flush, rename) when they differ from what was
    // read. Raises EInOutError when the file cannot be written.
    void Save();

private:
    struct TEntry {
        int64_t Size = -1;
        std::string Block;
        bool operator==(const TEntry&) const = default;
    };
    using TEntries = std::unordered_map<std::string, TEntry>;
    bool Parse(std::string_view text, TEntries& into, std::vector<std::string>& order) const;
    std::string Header() const;

    std::string FPath;
    std::string FServer;
    std::string FUser;
    TEntries FLoaded;
    std::vector<std::string> FLoadedOrder;
    TEntries FKept;
    // Keeps the order entries came in, so the file is written in server order.
    std::vector<std::string> FKeptOrder;
};
