#pragma once
// A file's size and SHA-256, and when asked its chunk index, on the one pass that reads
// (and copies, or downloads) the file: the index costs no second read.

#include "core/chunk_index.h"
#include "core/sha256.h"
#include "publisher/host.h"

#include <optional>

namespace korvel {

class FileDigester {
public:
    // With `index_params` the chunk index is made too.
    explicit FileDigester(ChunkerParams const* index_params);

    void update(void const* data, std::size_t size);
    FileDigest finish();

private:
    Sha256 hash_;
    std::uint64_t size_ = 0;
    std::optional<Chunker> chunker_;
    std::optional<ChunkIndexWriter> index_;
    ChunkFn add_;
};

}  // namespace korvel
