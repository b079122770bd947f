#include "launcher/single_instance.h"

#include "core/sha256.h"
#include "launcher/main_window.h"
#include "platform/sha256.h"
#include "platform/text.h"

#include <cwchar>

namespace fs = std::filesystem;

namespace korvel {

namespace {

std::wstring folded_folder(fs::path const& folder) {
    std::wstring text = folder.lexically_normal().native();
    while (text.size() > 3 && (text.back() == L'\\' || text.back() == L'/')) text.pop_back();
    for (auto& c : text)
        if (c == L'/') c = L'\\';
    if (!text.empty()) ::CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

struct Search {
    std::wstring folder;  // folded
    DWORD own_pid = 0;
    HWND found = nullptr;
};

fs::path image_folder_of(DWORD pid) {
    UniqueKernelHandle const process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return {};
    wchar_t image[MAX_PATH * 2] = {};
    DWORD size = static_cast<DWORD>(std::size(image));
    if (!::QueryFullProcessImageNameW(process.get(), 0, image, &size)) return {};
    return fs::path(std::wstring(image, size)).parent_path();
}

BOOL CALLBACK consider_window(HWND hwnd, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    wchar_t class_name[64] = {};
    ::GetClassNameW(hwnd, class_name, static_cast<int>(std::size(class_name)));
    if (std::wcscmp(class_name, k_main_window_class) != 0) return TRUE;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (pid == search.own_pid || folded_folder(image_folder_of(pid)) != search.folder) return TRUE;
    search.found = hwnd;
    return FALSE;
}

}  // namespace

std::wstring instance_mutex_name(fs::path const& folder) {
    // Backslashes are not allowed in the name, and a long path must still fit: the name
    // carries the hash of the folded path.
    std::string const key = wide_to_utf8(folded_folder(folder));
    Sha256 hash;
    hash.update(key.data(), key.size());
    return L"Local\\KorvelLauncher-" + utf8_to_wide(to_hex(hash.finalize()));
}

SingleInstance::SingleInstance(fs::path const& folder)
    : mutex_(::CreateMutexW(nullptr, FALSE, instance_mutex_name(folder).c_str())) {
    // Without a mutex (out of resources) the launcher runs as before rather than not at all.
    first_ = !mutex_ || ::GetLastError() != ERROR_ALREADY_EXISTS;
}

bool bring_running_launcher_to_front(fs::path const& folder, DWORD timeout_ms) {
    Search search{folded_folder(folder), ::GetCurrentProcessId(), nullptr};
    DWORD const start = ::GetTickCount();
    constexpr DWORD poll_ms = 100;
    for (;;) {
        ::EnumWindows(consider_window, reinterpret_cast<LPARAM>(&search));
        if (search.found) break;
        if (::GetTickCount() - start >= timeout_ms) return false;
        ::Sleep(poll_ms);  // the other launcher may still be creating its window
    }
    if (::IsIconic(search.found)) ::ShowWindow(search.found, SW_RESTORE);
    ::SetForegroundWindow(search.found);
    return true;
}

}  // namespace korvel
