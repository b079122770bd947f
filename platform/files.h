#pragma once
// File-system helpers shared by the launcher, the patching engine and the window.
// Each either succeeds or throws std::runtime_error naming the operation and the path
// (in UTF-8). None retries, waits or logs. Any thread.


#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace korvel {

// The form a path takes in a Windows file call. An absolute one gets the "\\?\" prefix
// ("\\?\UNC\" for a network path), so that a deep game folder may pass 260 characters
// even where the system's long-path policy is off; as that form is taken literally, its
// separators become backslashes and its "." and ".." elements are resolved. Any other
// path is returned as it is. Only for the call: texts name the path as given.
std::filesystem::path win32_path(std::filesystem::path const& path);

// Whether `path` names a regular file, following a link as the file calls do. Never throws.
bool is_regular_file_at(std::filesystem::path const& path);

// Clears the read-only attribute of a file about to be replaced or deleted: Windows
// refuses both for such a file (files copied from a disc or unpacked from some archives
// carry it). Nothing else changes; a failure is left to the replacing call to report.
void make_replaceable(std::filesystem::path const& target);

// Removes a file in the game folder, read-only or not, in the long-path form. False when
// it is still there afterwards (held, refused) or was never a file. Never throws.
bool remove_file(std::filesystem::path const& path) noexcept;

// Removes a folder that is empty, in the long-path form. False when it is still there
// afterwards. Never throws.
bool remove_empty_folder(std::filesystem::path const& folder) noexcept;

// Full path of the running executable. Throws "GetModuleFileNameW failed".
std::filesystem::path exe_path();

// Size of an existing regular file. Throws "Cannot read file size: " + path.
std::uint64_t file_size(std::filesystem::path const& path);

// Last-write time as a FILETIME number (100 ns units since 1601-01-01 UTC); files and
// folders. Throws "Cannot read modified time: " + path.
std::uint64_t file_mtime(std::filesystem::path const& path);

// Creates the parent folder of `path` and every missing folder above it; a bare file
// name needs nothing. Throws "Cannot create directory: " + parent, or the FileError
// (file_error.h) of a folder that cannot be written or a full disk.
void ensure_parent_dir(std::filesystem::path const& path);

// Moves `source` over `target` in one step (same volume only), after flushing the
// source's data to disk so that a power loss cannot leave a full-size file of zeros.
// Throws "Cannot replace file (close the game and try again): " + target + " | Win32=" + code.
// Every replacement of the launcher (game files, its state files, the staged launcher)
// goes through here or move_file_replacing, which clear the target's read-only
// attribute first.
void replace_file(std::filesystem::path const& source, std::filesystem::path const& target);

// replace_file for a source whose data the caller has already flushed to disk (as a
// download does through its own handle): only the move, same failure text, and no
// folder made, since the source lies beside the target.
void move_file_replacing(std::filesystem::path const& source, std::filesystem::path const& target);

// move_file_replacing for a verified download: a target that another program holds (a
// game client, a scanner's brief look) is tried again a few times within about a second
// before the move fails, with the FileError of its cause (file_error.h).
void place_download(std::filesystem::path const& source, std::filesystem::path const& target);

}  // namespace korvel
