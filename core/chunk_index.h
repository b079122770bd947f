#pragma once
// The chunk index of one file: what a launcher needs to rebuild the file from chunks it
// already has and ranges of the served file. Binary, little-endian:
//
//   head   header (64 bytes), then one 16-byte coarse entry per coarse chunk
//   fine   one 8-byte fine entry per fine chunk, in file order: its size (2 bytes) and
//          the low 48 bits of its chunk_hash (6 bytes)
//
// The head is small (about 16 bytes per 150 KiB of file) and is fetched whole; its
// SHA-256 is in the manifest. Fine entries are fetched by range, only under the coarse
// chunks a launcher lacks: entries are fixed-size, so coarse chunk c's entries start at
// fine_offset + 8 * (fine entries of the coarse chunks before c). A coarse entry's hash
// is the first 8 bytes of the SHA-256 of its fine entries' bytes, so fetched fine
// entries are checked against the head, and the head against the manifest: a server
// cannot slip in other entries without a second preimage.

#include "core/chunker.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

inline constexpr std::uint16_t chunk_index_format = 1;
inline constexpr std::size_t chunk_index_header_size = 64;
inline constexpr std::size_t coarse_entry_size = 16;
inline constexpr std::size_t fine_entry_size = 8;

struct FineEntry {
    std::uint32_t size = 0;
    std::uint64_t hash = 0;  // fine_hash_of the chunk
};

// What an index keeps of a fine chunk's hash: 48 bits make a false match between two
// chunks of a few GiB of seeds and files unlikely, and the file's SHA-256 still decides.
inline std::uint64_t fine_hash_of(std::uint64_t chunk_hash) { return chunk_hash & 0xffffffffffffull; }

struct CoarseEntry {
    std::uint64_t hash = 0;  // coarse_hash_of the serialised fine entries under it
    std::uint32_t size = 0;  // bytes of the file
    std::uint32_t fine_count = 0;
};

struct ChunkIndexHead {
    ChunkerParams params;
    std::uint64_t file_size = 0;
    std::uint64_t fine_count = 0;
    std::vector<CoarseEntry> coarse;

    std::size_t head_size() const { return chunk_index_header_size + coarse.size() * coarse_entry_size; }
    std::uint64_t index_size() const { return head_size() + fine_count * fine_entry_size; }
};

// Builds an index from the chunks of a Chunker, in order.
class ChunkIndexWriter {
public:
    explicit ChunkIndexWriter(ChunkerParams const& params) : params_(params) {}
    void add(Chunk const& chunk);
    // The whole index; the writer is spent.
    std::string finish();

private:
    ChunkerParams params_;
    std::uint64_t file_size_ = 0;
    std::string fine_;              // serialised fine entries, all of them
    std::size_t coarse_first_ = 0;  // offset in fine_ of the open coarse chunk's entries
    std::uint32_t coarse_size_ = 0;
    std::vector<CoarseEntry> coarse_;
};

// The index of `size` bytes at `data` (tests, and small files).
std::string chunk_index_of(void const* data, std::size_t size, ChunkerParams const& params = {});

// Reads the head (the first head_size() bytes; more may follow). Throws
// std::runtime_error("Érvénytelen darabindex") for anything malformed: a wrong magic,
// format or chunker version, invalid parameters, or sizes and counts that do not add up.
ChunkIndexHead read_chunk_index_head(std::string_view bytes);

// How many bytes of an index the header says the head has; throws like above.
std::size_t chunk_index_head_size(std::string_view header);

// Fine entries from their serialised bytes (a multiple of fine_entry_size).
std::vector<FineEntry> read_fine_entries(std::string_view bytes);

// The serialised form of one fine entry, and the hash a coarse entry has over them.
void append_fine_entry(std::string& out, FineEntry const& entry);
std::uint64_t coarse_hash_of(std::string_view fine_bytes);

}  // namespace korvel
