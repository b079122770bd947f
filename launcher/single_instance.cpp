#include "launcher/single_instance.h"

#include "core/sha256.h"
#include "launcher/main_window.h"
#include "platform/text.h"

#include <cwchar>
#include <optional>

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

// The volume serial number and the 64-bit file ID as hexadecimal, or nothing when the
// folder cannot be opened or has no ID. Opening it follows a junction to its target.
std::optional<std::wstring> folder_identity(fs::path const& folder) {
    // No access rights asked for: the attributes come with any handle; backup semantics
    // let a folder be opened at all.
    UniqueFile const handle(::CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!handle || !::GetFileInformationByHandle(handle.get(), &info)) return std::nullopt;
    // Some network file systems give every file ID 0: no identity to tell folders apart.
    if (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0) return std::nullopt;
    wchar_t text[32] = {};
    std::swprintf(text, std::size(text), L"%08lx-%08lx%08lx", info.dwVolumeSerialNumber, info.nFileIndexHigh,
                  info.nFileIndexLow);
    return text;
}

struct Search {
    std::wstring folder;  // folder_key
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
    if (pid == search.own_pid) return TRUE;
    fs::path const folder = image_folder_of(pid);
    if (folder.empty() || folder_key(folder) != search.folder) return TRUE;
    search.found = hwnd;
    return FALSE;
}

}  // namespace

std::wstring folder_key(fs::path const& folder) {
    if (std::optional<std::wstring> identity = folder_identity(folder)) return L"id:" + *identity;
    return L"path:" + folded_folder(folder);
}

std::wstring instance_mutex_name(fs::path const& folder) {
    // Backslashes are not allowed in the name, and a long path must still fit: the name
    // carries the key's hash.
    return L"Local\\KorvelLauncher-" + utf8_to_wide(sha256_hex(wide_to_utf8(folder_key(folder))));
}

SingleInstance::SingleInstance(fs::path const& folder) : name_(instance_mutex_name(folder)) {
    take_if_free();
}

bool SingleInstance::take_if_free() {
    if (first_) return true;
    // A second start keeps its handle between tries: reopening would not tell more.
    if (!mutex_) mutex_.reset(::CreateMutexExW(nullptr, name_.c_str(), 0, SYNCHRONIZE));
    if (!mutex_) {
        // Denied even SYNCHRONIZE: the mutex exists (a missing one would have been made),
        // made by a launcher this one may not wait on.
        first_ = ::GetLastError() != ERROR_ACCESS_DENIED;
        return first_;
    }
    // Abandoned: its holder ended without letting go; it is this launcher's now.
    DWORD const wait = ::WaitForSingleObject(mutex_.get(), 0);
    first_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    return first_;
}

bool bring_running_launcher_to_front(fs::path const& folder) {
    Search search{folder_key(folder), ::GetCurrentProcessId(), nullptr};
    ::EnumWindows(consider_window, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return false;
    if (::IsIconic(search.found)) ::ShowWindow(search.found, SW_RESTORE);
    ::SetForegroundWindow(search.found);
    return true;
}

}  // namespace korvel
