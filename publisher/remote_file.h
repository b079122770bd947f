#pragma once
// Hashing a file on the patch server as it streams in: nothing is written to disk and
// only one buffer is held, whatever the file's size. Any thread.

#include "publisher/file_copy.h"

#include <cstdint>
#include <string>

namespace korvel {

// GETs `url` with the launcher's own user agent (so that the checks see what players'
// launchers see from servers that answer by agent) and returns the body's size and SHA-256. Stops reading once the body is
// longer than `size_limit` (the size is then reported as size_limit + 1, which no
// listed size matches). Throws what the HTTP client throws ("HTTP 404: " + url, Win32
// errors ...).
FileDigest hash_remote_file(std::string const& url, std::uint64_t size_limit, BytesReadFn const& on_read);

}  // namespace korvel
