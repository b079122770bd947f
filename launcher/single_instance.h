#pragma once
// One launcher per launcher folder: a second normal start from the same folder (a double
// double-click) brings the running launcher to the front instead of starting a second
// patch job on the same files. Launch mode does not take part.

#include "platform/unique_handle.h"

#include <windows.h>

#include <filesystem>
#include <string>

namespace korvel {

// The name of the folder's mutex: the same for every spelling of the folder that differs
// only in case or in "." and ".." elements.
std::wstring instance_mutex_name(std::filesystem::path const& folder);

class SingleInstance {
public:
    // Creates or opens the folder's mutex; the first launcher keeps it until it ends.
    explicit SingleInstance(std::filesystem::path const& folder);
    bool first() const { return first_; }

private:
    UniqueKernelHandle mutex_;
    bool first_ = true;
};

// Finds the main window of the other launcher of `folder` (waiting up to `timeout_ms` for
// one that is still starting) and brings it to the front. False when none appeared.
bool bring_running_launcher_to_front(std::filesystem::path const& folder, DWORD timeout_ms);

}  // namespace korvel
