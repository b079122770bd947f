#include "platform/dir_listing.h"

#include "core/name_key.h"
#include "platform/files.h"
#include "platform/unique_handle.h"

#include <windows.h>

namespace korvel {

namespace {

// A search handle is closed with FindClose, not CloseHandle, and fails as INVALID_HANDLE_VALUE.
struct FindHandleTraits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(HANDLE h) noexcept { ::FindClose(h); }
};
using UniqueFind = UniqueHandle<HANDLE, FindHandleTraits>;

std::uint64_t join(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

void visit_entry(WIN32_FIND_DATAW const& data, std::function<void(ListedEntry const&)> const& visit) {
    std::wstring_view const name(data.cFileName);
    if (name == L"." || name == L"..") return;
    ListedEntry entry;
    entry.name = name;
    entry.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.reparse_point = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry.size = join(data.nFileSizeHigh, data.nFileSizeLow);
    entry.modified = join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    visit(entry);
}

}  // namespace

ListingResult list_folder(std::filesystem::path const& folder, std::function<void(ListedEntry const&)> const& visit) {
    std::wstring pattern = win32_path(folder).native();
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';

    // Basic information leaves out the 8.3 names, which the file system would otherwise
    // have to look up for every entry; large fetch asks for big batches per call.
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                       FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
        switch (::GetLastError()) {
        case ERROR_FILE_NOT_FOUND:  // an empty root has not even "." to list
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DIRECTORY:     // the folder's name belongs to a file...
        case ERROR_INVALID_NAME:  // ...as Wine reports it, or no file could have this name
            return ListingResult::Missing;
        default:
            return ListingResult::Unreadable;
        }
    }
    for (;;) {
        visit_entry(data, visit);
        if (!::FindNextFileW(find.get(), &data))
            return ::GetLastError() == ERROR_NO_MORE_FILES ? ListingResult::Listed : ListingResult::Unreadable;
    }
}

std::wstring file_name_key(std::wstring_view name) {
    std::wstring key(name);
    for (wchar_t& c : key) c = static_cast<wchar_t>(upper_case_unit(static_cast<char16_t>(c)));
    return key;
}

}  // namespace korvel
