#pragma once
// What korvel-publish asks of the system it runs on: path texts, reading and copying
// release files, moving folders into place, small documents written whole, and HTTP for
// `verify`. publisher/win32/ answers with Win32 and WinHTTP (the Windows build of the
// tool), publisher/posix/ with POSIX calls and libcurl (the native Linux build); the
// rest of the publisher is the same code on both. Every function may run on any thread
// and throws std::runtime_error naming the file or URL unless it says otherwise.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// One command-line argument as the system passes it.
using NativeString = std::filesystem::path::string_type;

// A path or argument as UTF-8, for messages and documents. Windows: throws the UTF-16
// conversion error (path_text is platform/text.h's); POSIX: the bytes as they are.
std::string native_text(NativeString const& text);
std::string path_text(std::filesystem::path const& path);

// A UTF-8 relative path (from a manifest or a version) as a path on this system.
std::filesystem::path path_from_utf8(std::string_view utf8);

struct ChunkerParams;

struct FileDigest {
    std::uint64_t size = 0;
    std::string sha256;  // 64 lower-case hex characters
    std::optional<std::string> chunk_index;  // when asked for (publisher/file_digest.h)
};

// Called with the number of bytes just read.
using BytesReadFn = std::function<void(std::uint64_t)>;

// Hashes `source`; when `copy` is not empty, also writes its bytes there (created or
// truncated; its folder must exist). A failed copy is removed again. With
// `index_params`, also makes the file's chunk index.
FileDigest hash_file(std::filesystem::path const& source, std::filesystem::path const& copy,
                     BytesReadFn const& on_read, ChunkerParams const* index_params = nullptr);

// Makes `link` a second name of `existing`; false when the file system cannot (another
// volume, no hard links), so that the caller copies instead.
bool make_hard_link(std::filesystem::path const& existing, std::filesystem::path const& link);

// Moves a file or folder to a name that does not exist yet, in one step; throws when
// the target exists. The native build first flushes the file system, so that what was
// written below `from` is on disk before it shows under `to`.
void move_into_place(std::filesystem::path const& from, std::filesystem::path const& to);

// Creates or truncates `path` with `bytes`; false when it could not be fully written.
bool write_new_file(std::filesystem::path const& path, std::string_view bytes);

// Replaces `path` with `bytes` through a temporary file and one rename, so readers see
// the old document or the new one, never a mix; false when the temporary file could not
// be written. The folder must exist.
bool write_document(std::filesystem::path const& path, std::string_view bytes);

// Throws "Invalid URL: " + url for anything the launcher could not fetch (not http or
// https, no host).
void check_url(std::string const& url);

// A small document (version.json, manifest.json) fetched the way the launcher fetches
// it: no-cache headers, the launcher's user agent, a status outside 200..299 as
// "HTTP " + status + ": " + url. A body past `max_bytes` is refused as soon as it is
// announced or received ("HTTP response larger than ...", as the launcher says it).
std::string fetch_document(std::string const& url, std::uint64_t max_bytes = 128ull << 20);

struct RemoteFile {
    std::string url;
    std::uint64_t size_limit = 0;  // reading stops past it; the size then reads size_limit + 1
    ChunkerParams const* index_params = nullptr;  // also make the body's chunk index
};

// Called once per file on the calling thread, in any order: its digest, or when it could
// not be fetched, the error text (`digest` is then null).
using RemoteDoneFn = std::function<void(std::size_t index, FileDigest const* digest, std::string const& error)>;

// GETs every file with the launcher's user agent and no-cache headers, hashing each body
// as it streams in; nothing is kept but the digests. The native build keeps up to 16
// transfers going over reused connections.
void hash_remote_files(std::vector<RemoteFile> const& files, BytesReadFn const& on_read, RemoteDoneFn const& done);

}  // namespace korvel
