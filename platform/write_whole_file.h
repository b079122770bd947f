#pragma once
// Writing a small file in one go, with every failure seen: the opening, each write and
// the closing. A full disk or a failing device must not pass for a saved file.
// write_file_replacing does it through a temporary file, so the old file stays whole
// whatever happens.

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

// Writes `bytes` to `path` + ".tmp" and moves that over `path` in one step (replace_file).
// Returns false when the temporary file cannot be created or fully written; a half-written
// one is removed, while something already standing under that name that could not be
// opened is left alone. Makes no folder: a missing one means false. Throws the error of
// replace_file (its temporary file then removed).
bool write_file_replacing(std::filesystem::path const& path, std::string_view bytes);

}  // namespace korvel
