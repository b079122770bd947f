#pragma once
// Writing a small file in one go, with every failure seen: the opening, each write and
// the closing. A full disk or a failing device must not pass for a saved file.

#include <filesystem>
#include <string_view>

namespace korvel {

enum class WriteStatus {
    written,
    not_opened,      // the file could not be created or truncated; nothing changed
    write_failed,    // opened and truncated, but the bytes may not all be there
};

// Creates or truncates `path` and writes `bytes` to it. Never throws; the caller decides
// what a failure means and whether a half-written file must go.
WriteStatus write_whole_file(std::filesystem::path const& path, std::string_view bytes);

}  // namespace korvel
