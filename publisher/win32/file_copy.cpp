#include "publisher/host.h"

#include "publisher/file_digest.h"
#include "platform/unique_handle.h"
#include "platform/win32_error.h"

#include <windows.h>

#include <vector>

namespace korvel {

namespace {

// The code is taken first: converting the path for the text may set it again.
[[noreturn]] void throw_file_error(char const* what, std::filesystem::path const& path) {
    DWORD const code = ::GetLastError();
    throw Win32Error(what + path_text(path), code);
}

}  // namespace

FileDigest hash_file(std::filesystem::path const& source, std::filesystem::path const& copy,
                     BytesReadFn const& on_read, ChunkerParams const* index_params) {
    UniqueFile in(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) throw_file_error("Cannot open release file: ", source);
    UniqueFile out;
    if (!copy.empty()) {
        out.reset(::CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
        if (!out) throw_file_error("Cannot create file: ", copy);
    }
    // A copy that did not finish must not stay behind looking like a published file.
    struct RemoveUnlessDone {
        UniqueFile& file;
        std::filesystem::path const& path;
        bool done = false;
        ~RemoveUnlessDone() {
            if (done || !file) return;
            file.reset();
            ::DeleteFileW(path.c_str());
        }
    } guard{out, copy};

    FileDigester digester(index_params);
    // Reused across files: a release has tens of thousands of small ones, and a fresh
    // megabyte for each would cost more than reading them.
    thread_local std::vector<std::uint8_t> buffer(1 << 20);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            throw_file_error("Cannot read release file: ", source);
        if (got == 0) break;
        digester.update(buffer.data(), got);
        if (out) {
            DWORD written = 0;
            if (!::WriteFile(out.get(), buffer.data(), got, &written, nullptr) || written != got)
                throw_file_error("Cannot write file: ", copy);
        }
        if (on_read) on_read(got);
    }
    if (out && !::CloseHandle(out.release())) {
        DWORD const code = ::GetLastError();
        ::DeleteFileW(copy.c_str());
        throw Win32Error("Cannot write file: " + path_text(copy), code);
    }
    guard.done = true;
    return digester.finish();
}

bool make_hard_link(std::filesystem::path const& existing, std::filesystem::path const& link) {
    return ::CreateHardLinkW(link.c_str(), existing.c_str(), nullptr) != FALSE;
}

}  // namespace korvel
