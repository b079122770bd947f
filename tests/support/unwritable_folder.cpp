#include "tests/support/unwritable_folder.h"

#include "tests/support/input.h"
#include "tests/support/process.h"

#include <windows.h>

#include <string>

namespace fs = std::filesystem;

namespace korvel::test {

namespace {

// Runs chattr on the folder ("start /unix" runs a Linux program; its /wait does not
// always hold until the program has ended, so callers poll for the effect).
void chattr(fs::path const& folder, wchar_t const* change) {
    std::wstring const& native = folder.native();
    if (native.size() < 3 || (native[0] != L'Z' && native[0] != L'z') || native[1] != L':') return;
    std::wstring unix_path = native.substr(2);
    for (wchar_t& c : unix_path)
        if (c == L'\\') c = L'/';
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    ChildProcess start(fs::path(system) / L"start.exe",
                       std::wstring(L"/wait /unix /usr/bin/chattr ") + change + L" " + korvel::test::quoted(fs::path(unix_path)));
    start.wait(30000);
}

bool can_create_in(fs::path const& folder) {
    fs::path const probe = folder / L"unwritable-probe";
    HANDLE const file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    ::DeleteFileW(probe.c_str());
    return true;
}

// Whether `writable` becomes what the folder is within ten seconds.
bool settles(fs::path const& folder, bool writable) {
    return wait_until([&] { return can_create_in(folder) == writable; }, 10000, 20);
}

}  // namespace

UnwritableFolder::UnwritableFolder(fs::path folder) : folder_(std::move(folder)) {
    chattr(folder_, L"+i");
    ok_ = settles(folder_, false);
}

UnwritableFolder::~UnwritableFolder() {
    chattr(folder_, L"-i");
    settles(folder_, true);
}

}  // namespace korvel::test
