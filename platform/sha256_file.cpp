#include "core/sha256.h"
#include "platform/sha256.h"

#include "platform/files.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "platform/win32_error.h"

#include <windows.h>

#include <stdexcept>
#include <vector>

namespace korvel {

namespace {

UniqueFile open_for_hashing(std::filesystem::path const& path) {
    UniqueFile file(::CreateFileW(win32_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        DWORD const code = last_error_of_failure();
        throw Win32Error::keeping_text("Cannot open file for SHA-256: " + path_text(path), code);
    }
    return file;
}

std::string hash_open_file(HANDLE file, std::filesystem::path const& path) {
    Sha256 hash;
    // One 1 MiB buffer per thread, reused from file to file: a full repair hashes tens
    // of thousands of small files, and clearing a fresh megabyte for each would cost
    // more than hashing them.
    thread_local std::vector<std::uint8_t> buffer(1 << 20);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            DWORD const code = last_error_of_failure();
            throw Win32Error::keeping_text("Failed reading file for SHA-256: " + path_text(path), code);
        }
        hash.update(buffer.data(), got);
        if (got < buffer.size()) break;  // a short read of a disk file marks its end
    }
    return to_hex(hash.finalize());
}

}  // namespace

std::string sha256_file(std::filesystem::path const& path) {
    UniqueFile const file = open_for_hashing(path);
    return hash_open_file(file.get(), path);
}

OpenedFileHash sha256_file_of_size(std::filesystem::path const& path, std::uint64_t expected_size) {
    UniqueFile const file = open_for_hashing(path);
    // Size and time of the very file that is read: a separate query by name would cost
    // another path lookup and could describe a file replaced in between. Not
    // GetFileInformationByHandle: it also queries the volume for its serial number, one
    // more request per file that the check has no use for.
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard)) {
        DWORD const code = ::GetLastError();
        throw Win32Error("Cannot read file size: " + path_text(path), code);
    }
    OpenedFileHash result;
    result.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    result.modified = static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart);
    if (result.size == expected_size) result.sha256 = hash_open_file(file.get(), path);
    return result;
}

}  // namespace korvel
