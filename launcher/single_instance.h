#pragma once
// One launcher per launcher folder: a second normal start from the same folder (a double
// double-click, another drive letter or a short name for it) brings the running launcher
// to the front instead of starting a second patch job on the same files. Launch mode does
// not take part.

#include "platform/unique_handle.h"

#include <windows.h>

#include <filesystem>
#include <string>

namespace korvel {

// What tells a folder apart, whatever path reaches it: its volume's serial number and its
// file ID (so another drive letter, a subst or mapped drive, the 8.3 short name or a
// junction give the same key). Where the folder cannot be opened (or its file system has
// no file IDs), its path folded: the same for every spelling that differs only in case,
// separators or "." and "..".
std::wstring folder_key(std::filesystem::path const& folder);

// The name of the folder's mutex, made from its folder_key.
std::wstring instance_mutex_name(std::filesystem::path const& folder);

// The folder's mutex, held by the launcher of the folder for as long as it runs: "already
// running" means a live holder, not just the name, which a second start also keeps open
// while it looks for the first one's window. Opened with SYNCHRONIZE alone, the one right
// waiting on it needs, so that a launcher started without administrator rights can open
// the mutex of an elevated one.
class SingleInstance {
public:
    // Opens or creates the folder's mutex and takes it unless a live launcher holds it.
    explicit SingleInstance(std::filesystem::path const& folder);
    // True when this launcher holds the folder.
    bool first() const { return first_; }
    // Takes the folder when the launcher that held it has ended (or never held it); true
    // when this launcher holds it now. A mutex that cannot be made at all (out of
    // resources) counts as held: the launcher runs as before rather than not at all.
    bool take_if_free();

private:
    std::wstring const name_;
    UniqueKernelHandle mutex_;
    bool first_ = false;
};

// Finds the main window of another launcher of `folder` (the same folder_key) and brings
// it to the front. False when there is none (yet).
bool bring_running_launcher_to_front(std::filesystem::path const& folder);

}  // namespace korvel
