#pragma once
// A file held open for reads and writes at given offsets, opened in the long-path form
// (win32_path), so that a game folder deeper than 260 characters works as any other.
// Failures throw std::runtime_error naming the operation and the path (UTF-8). One
// thread at a time per object.

#include "platform/unique_handle.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace korvel {

class OpenFile {
public:
    enum class Access {
        read,        // an existing file, which others may still read, write or delete
        read_write,  // created when missing; others may only read it
    };

    // Throws "Cannot open file: " + path.
    OpenFile(std::filesystem::path const& path, Access access);

    // Throws "Cannot read file size: " + path.
    std::uint64_t size() const;
    // Reads up to `size` bytes at `offset`; fewer only at the file's end. Throws
    // "Cannot read file: " + path.
    std::size_t read_at(std::uint64_t offset, char* data, std::size_t size) const;
    // Throws "Cannot write file: " + path when not every byte was written.
    void write_at(std::uint64_t offset, char const* data, std::size_t size);
    // Cuts or extends the file to `size` bytes. Throws "Cannot write file: " + path.
    void resize(std::uint64_t size);

private:
    UniqueFile file_;
    std::filesystem::path path_;
};

}  // namespace korvel
