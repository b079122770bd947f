// The publisher's file layer on Linux: plain POSIX calls, one 1 MiB buffer per thread,
// every failure seen (the open, each read and write, the close).
#include "publisher/host.h"

#include "publisher/file_digest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace korvel {

namespace {

// The message with the system's reason, taken from errno right after the failing call.
[[noreturn]] void throw_errno(std::string const& what) {
    int const code = errno;
    throw std::runtime_error(what + " | " + std::strerror(code));
}

// A descriptor closed on every path; close() reports the failure that a write-back can
// first show there.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(Descriptor const&) = delete;
    Descriptor& operator=(Descriptor const&) = delete;

    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    bool close() {
        int const fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

bool write_all(int fd, char const* data, std::size_t size) {
    while (size > 0) {
        ssize_t const n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

ssize_t read_some(int fd, std::uint8_t* buffer, std::size_t size) {
    for (;;) {
        ssize_t const n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

// Makes a rename or a new name in `folder` itself durable.
void sync_folder(fs::path const& folder) {
    Descriptor dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
}

}  // namespace

std::string path_text(std::filesystem::path const& path) {
    return native_text(path.native());
}

std::string native_text(NativeString const& text) {
    return text;
}

fs::path path_from_utf8(std::string_view utf8) {
    return fs::path(std::string(utf8));
}

FileDigest hash_file(fs::path const& source, fs::path const& copy, BytesReadFn const& on_read,
                     ChunkerParams const* index_params) {
    Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) throw_errno("Cannot open release file: " + source.native());
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    Descriptor out;
    if (!copy.empty()) {
        out.reset(::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!out) throw_errno("Cannot create file: " + copy.native());
    }
    // A copy that did not finish must not stay behind looking like a published file.
    struct RemoveUnlessDone {
        fs::path const& path;
        bool armed;
        ~RemoveUnlessDone() {
            if (armed) ::unlink(path.c_str());
        }
    } guard{copy, static_cast<bool>(out)};

    FileDigester digester(index_params);
    // Reused across files: a release has tens of thousands of small ones, and a fresh
    // megabyte for each would cost more than reading them.
    thread_local std::vector<std::uint8_t> buffer(1 << 20);
    for (;;) {
        ssize_t const got = read_some(in.get(), buffer.data(), buffer.size());
        if (got < 0) throw_errno("Cannot read release file: " + source.native());
        if (got == 0) break;
        digester.update(buffer.data(), static_cast<std::size_t>(got));
        if (out && !write_all(out.get(), reinterpret_cast<char const*>(buffer.data()), static_cast<std::size_t>(got)))
            throw_errno("Cannot write file: " + copy.native());
        if (on_read) on_read(static_cast<std::uint64_t>(got));
    }
    if (out && !out.close()) throw_errno("Cannot write file: " + copy.native());
    guard.armed = false;
    return digester.finish();
}

bool make_hard_link(fs::path const& existing, fs::path const& link) {
    return ::link(existing.c_str(), link.c_str()) == 0;
}

void move_into_place(fs::path const& from, fs::path const& to) {
    std::string const failure = "Cannot move " + from.native() + " to " + to.native();
    // One flush of the whole file system instead of an fsync per file: tens of thousands
    // of small files are written back in one sweep, and nothing below `from` can show
    // under `to` before its bytes are on disk.
    {
        Descriptor handle(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
        if (!handle) throw_errno(failure);
        if (::syncfs(handle.get()) != 0) throw_errno(failure);
    }
    // RENAME_NOREPLACE: an existing target (a release published meanwhile, even an
    // empty folder that a plain rename would replace) is an error, never overwritten.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) throw_errno(failure);
    sync_folder(to.parent_path());
}

bool write_new_file(fs::path const& path, std::string_view bytes) {
    Descriptor out(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out) return false;
    bool const written = write_all(out.get(), bytes.data(), bytes.size());
    return out.close() && written;
}

bool write_document(fs::path const& path, std::string_view bytes) {
    fs::path temporary = path;
    temporary += ".tmp";
    Descriptor out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out) return false;
    // The bytes are on disk before the name points at them: after a power loss the
    // document is the old one or the new one, never an empty file.
    bool const written = write_all(out.get(), bytes.data(), bytes.size()) && ::fsync(out.get()) == 0;
    if (!out.close() || !written) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        int const code = errno;
        ::unlink(temporary.c_str());
        throw std::runtime_error("Cannot replace file: " + path.native() + " | " + std::strerror(code));
    }
    sync_folder(path.parent_path());
    return true;
}

}  // namespace korvel
