#pragma once
// Content-defined chunking: a file is cut where a rolling hash of the last bytes meets a
// condition, so an insertion or a removal moves only the cuts near it and the rest of
// the file falls into the same chunks as before. Two levels come out of one pass: fine
// chunks (a few KiB) and coarse chunks, each a run of whole fine chunks, whose cuts are
// the fine cuts where the rolling hash also has further bits clear. The publisher and
// the launcher must cut identically, so the rule is versioned and its parameters travel
// in every chunk index.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace korvel {

// Changes whenever a cut or a chunk hash would come out differently for the same bytes.
inline constexpr std::uint16_t chunker_version = 1;

struct ChunkerParams {
    std::uint32_t min_size = 256;   // no cut before this many bytes of a chunk
    std::uint32_t avg_size = 1024;  // a power of two: the target of normalised cutting
    std::uint32_t max_size = 4096;  // a cut at the latest here
    std::uint32_t coarse_bits = 7;  // a fine cut is also coarse with chance 2^-bits
    std::uint32_t coarse_min = 16384;
    std::uint32_t coarse_max = 262144;  // a coarse cut at the first fine cut from here

    bool operator==(ChunkerParams const&) const = default;
};

// Sizes the chunker can work with: 64 <= min < avg < max < 64 KiB, avg a power of two,
// 1 <= coarse_bits <= 12, coarse_min <= coarse_max <= 64 MiB.
bool chunker_params_valid(ChunkerParams const& params);

// A 64-bit hash of a chunk's bytes: fast, well mixed, not keyed. Two different chunks
// share one rarely enough for matching; what is assembled from matches is still checked
// against the file's SHA-256.
std::uint64_t chunk_hash(void const* data, std::size_t size);

// chunk_hash of bytes fed in pieces of any size: what a stretch that reaches over many
// pieces hashes to, without holding it.
class ChunkHashStream {
public:
    ChunkHashStream();
    void feed(void const* data, std::size_t size);
    std::uint64_t value() const;  // of the bytes fed so far
    void reset() { *this = ChunkHashStream(); }

private:
    std::uint64_t lanes_[4];
    std::uint8_t held_[32];  // the bytes of a block not yet whole
    std::size_t held_size_ = 0;
    std::uint64_t size_ = 0;
};

struct Chunk {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    std::uint64_t hash = 0;    // chunk_hash of the bytes
    bool ends_coarse = false;  // the last fine chunk of a coarse chunk (always for the file's last)
};

using ChunkFn = std::function<void(Chunk const&, std::uint8_t const* bytes)>;

// Cuts a stream fed in pieces of any size; the cuts depend only on the bytes.
class Chunker {
public:
    explicit Chunker(ChunkerParams const& params);

    // `on_chunk` gets every chunk completed by these bytes, with the chunk's bytes.
    void feed(void const* data, std::size_t size, ChunkFn const& on_chunk);
    // The rest of the stream as the last chunk(s).
    void finish(ChunkFn const& on_chunk);

    std::uint64_t fed() const { return offset_ + (pending_.size() - start_); }

private:
    void cut_all(bool final, ChunkFn const& on_chunk);

    ChunkerParams params_;
    std::uint64_t mask_strict_;
    std::uint64_t mask_loose_;
    std::uint64_t mask_coarse_;
    std::vector<std::uint8_t> pending_;
    std::size_t start_ = 0;     // first byte of pending_ not yet in a chunk
    std::uint64_t offset_ = 0;  // file offset of pending_[start_]
    std::uint64_t coarse_size_ = 0;
};

}  // namespace korvel
