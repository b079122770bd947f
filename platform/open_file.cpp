#include "platform/open_file.h"

#include "platform/files.h"
#include "platform/text.h"
#include "platform/win32_error.h"

#include <windows.h>

#include <algorithm>

namespace korvel {

namespace {

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

[[noreturn]] void fail(char const* what, std::filesystem::path const& path) {
    DWORD const code = last_error_of_failure();
    throw Win32Error::keeping_text(what + path_text(path), code);
}

constexpr std::size_t largest_call = 1u << 30;  // one ReadFile/WriteFile takes a DWORD

}  // namespace

OpenFile::OpenFile(std::filesystem::path const& path, Access access) : path_(path) {
    bool const reading = access == Access::read;
    file_.reset(::CreateFileW(win32_path(path).c_str(), reading ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                              reading ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : FILE_SHARE_READ,
                              nullptr, reading ? OPEN_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) fail("Cannot open file: ", path_);
}

std::uint64_t OpenFile::size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file_.get(), &size)) fail("Cannot read file size: ", path_);
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t OpenFile::read_at(std::uint64_t offset, char* data, std::size_t size) const {
    std::size_t done = 0;
    while (done < size) {
        OVERLAPPED where = at(offset + done);
        DWORD got = 0;
        DWORD const asked = static_cast<DWORD>(std::min(size - done, largest_call));
        if (!::ReadFile(file_.get(), data + done, asked, &got, &where)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            fail("Cannot read file: ", path_);
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

void OpenFile::write_at(std::uint64_t offset, char const* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        OVERLAPPED where = at(offset + done);
        DWORD put = 0;
        DWORD const asked = static_cast<DWORD>(std::min(size - done, largest_call));
        if (!::WriteFile(file_.get(), data + done, asked, &put, &where) || put == 0) fail("Cannot write file: ", path_);
        done += put;
    }
}

void OpenFile::resize(std::uint64_t size) {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_.get()))
        fail("Cannot write file: ", path_);
}

}  // namespace korvel
