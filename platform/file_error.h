#pragma once
// Failures of the file calls behind a download (creating, writing and moving a file),
// told by their Windows cause. The causes a player can act on get a Hungarian text of
// their own; any other keeps the operation's text with the code. The code always
// travels with the error, and `lasting` says whether trying again soon is pointless.

#include <windows.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace korvel {

// What the failing call was doing: the same code means different things for each.
enum class FileStep {
    create,   // making a folder or creating a file in it
    write,    // writing an opened file
    replace,  // moving a finished file over its target
};

class FileError : public std::runtime_error {
public:
    FileError(std::string const& text, DWORD code, bool lasting)
        : std::runtime_error(text), code_(code), lasting_(lasting) {}

    DWORD code() const noexcept { return code_; }
    // A folder that cannot be written or a full disk: the next attempt would fail alike.
    bool lasting() const noexcept { return lasting_; }

private:
    DWORD code_;
    bool lasting_;
};

// The error for `code` from `step` on `file`. `fallback` is the operation's own text, used
// (with " | Win32=" + code) when the cause has no text of its own. Paths in the texts are
// shown as given, never in the long form the call itself used.
FileError file_error(FileStep step, std::filesystem::path const& file, std::string const& fallback, DWORD code);

// The text for a folder the player cannot write ("A játék mappája nem írható: " + folder).
std::string unwritable_folder_text(std::filesystem::path const& folder);

}  // namespace korvel
