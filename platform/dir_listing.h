#pragma once
// Reading a whole folder in a few calls instead of asking about each file by name, and
// the upper-case form under which Windows compares file names. Any thread.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace korvel {

// One entry as the folder's listing describes it; the name points into the listing's
// buffer and is valid only during the visit.
struct ListedEntry {
    std::wstring_view name;
    bool directory = false;
    // A link or another reparse point: the other fields describe the link itself, not
    // what it points to.
    bool reparse_point = false;
    std::uint64_t size = 0;
    std::uint64_t modified = 0;  // last-write FILETIME, as file_mtime gives it
};

enum class ListingResult {
    Listed,      // every entry was visited
    Missing,     // the folder does not exist, or a file stands where it or a parent should be
    Unreadable,  // anything else (access denied, a failure partway); some entries may have been visited
};

// Calls `visit` for every entry of `folder` except "." and "..", in the file system's
// order, reading them in large batches. Never throws of its own.
ListingResult list_folder(std::filesystem::path const& folder, std::function<void(ListedEntry const&)> const& visit);

// The name upper-cased with the invariant table of core/name_key.h, one UTF-16 unit for one,
// so that two names Windows treats as the same file get the same key.
std::wstring file_name_key(std::wstring_view name);

}  // namespace korvel
