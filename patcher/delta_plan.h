#pragma once
// Rebuilding a file from chunks the player already has: the chunks of the local seeds
// (the old file, files the manifest deletes, an interrupted part), matched against the
// new file's chunk index, and the plan that says for every piece of the new file where
// it comes from: a seed, or a ranged request to the server.

#include "core/chunk_index.h"
#include "patcher/request_cost.h"
#include "platform/byte_ranges.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace korvel {

inline constexpr std::uint32_t no_seed_chunk = 0xffffffffu;

// One fine chunk of a seed in 16 bytes, since a seed of a few GiB may have millions:
// its 48-bit hash with its size (below 64 KiB), and its offset (below 1 TiB).
class SeedChunk {
public:
    static constexpr std::uint64_t largest_seed = 1ull << 40;

    SeedChunk(std::uint64_t hash, std::uint32_t size, std::uint64_t offset)
        : hash_size_(fine_hash_of(hash) | std::uint64_t{size} << 48), offset_(offset) {}

    std::uint64_t hash() const { return hash_size_ & 0xffffffffffffull; }  // fine_hash_of the chunk
    std::uint32_t size() const { return static_cast<std::uint32_t>(hash_size_ >> 48); }
    std::uint64_t offset() const { return offset_; }

private:
    std::uint64_t hash_size_;
    std::uint64_t offset_;
};
static_assert(sizeof(SeedChunk) == 16);

// Reads up to `size` bytes at `offset` into `data`; fewer only at the end of the file.
using ReadAtFn = std::function<std::size_t(std::uint64_t offset, char* data, std::size_t size)>;
// Called with the bytes of the seed read so far.
using SeedReadFn = std::function<void(std::uint64_t)>;
// Whether a file the seed is read for has the seed's coarse chunk of this hash and size
// whole: its fine chunks are then not kept.
using WholeCoarseFn = std::function<bool(std::uint64_t hash, std::uint32_t size)>;

// The coarse chunks of the file an index head describes, to ask whether it has one.
class CoarseSet {
public:
    explicit CoarseSet(ChunkIndexHead const& head);
    bool has(std::uint64_t hash, std::uint32_t size) const;

private:
    std::vector<std::pair<std::uint64_t, std::uint32_t>> sorted_;
};

// The chunks of one seed, read once and then only searched, from any thread: every
// coarse chunk, and the fine chunks of the coarse ones that the files it is read for
// do not have whole. A file copies a coarse chunk it has whole without looking inside,
// so a seed of a few GiB whose files changed in a few places keeps only the fine chunks
// around those places: memory does not grow with the seed.
class SeedTable {
public:
    struct Coarse {
        std::uint64_t hash = 0;   // coarse_hash_of its fine entries, as the index has it
        std::uint64_t bytes = 0;  // chunk_hash of its bytes: checks a copy without cutting it again
        std::uint64_t offset = 0;
        std::uint32_t size = 0;
    };

    // Hears each coarse chunk as it is cut, its bytes still being read.
    using CutFn = std::function<void(Coarse const&)>;

    // An `aligned` seed (the part being written over) offers its chunks only at the
    // offset they already have.
    SeedTable(std::filesystem::path file, bool aligned, ChunkerParams const& params)
        : file_(std::move(file)), aligned_(aligned), params_(params) {}

    // Chunks the whole file of about `size` bytes, read through `read_at` (up to
    // SeedChunk::largest_seed bytes), keeping fine chunks only inside coarse ones that
    // `whole` (when given) says no, telling `cut` (when given) of every coarse chunk.
    // Once: the table is searchable after it. Throws what `read_at` throws.
    void read(std::uint64_t size, ReadAtFn const& read_at, SeedReadFn const& on_read, WholeCoarseFn const& whole,
              CutFn const& cut = {});

    // A fine chunk with this hash and size usable at `offset`, or null.
    SeedChunk const* find_fine(std::uint64_t hash, std::uint32_t size, std::uint64_t offset) const;
    // A coarse chunk with this hash and size usable at `offset`, or null.
    Coarse const* find_coarse(std::uint64_t hash, std::uint32_t size, std::uint64_t offset) const;

    std::uint32_t position_of(SeedChunk const& chunk) const {
        return static_cast<std::uint32_t>(&chunk - fine_.data());
    }
    std::uint32_t position_of(Coarse const& chunk) const {
        return static_cast<std::uint32_t>(&chunk - coarse_.data());
    }
    SeedChunk const& fine(std::uint32_t position) const { return fine_[position]; }
    Coarse const& coarse(std::uint32_t position) const { return coarse_[position]; }
    std::size_t fine_count() const { return fine_.size(); }
    std::filesystem::path const& path() const { return file_; }
    bool aligned() const { return aligned_; }

private:
    bool usable(std::uint64_t chunk_offset, std::uint64_t offset) const { return !aligned_ || chunk_offset == offset; }

    std::filesystem::path file_;
    bool aligned_;
    ChunkerParams params_;
    std::vector<SeedChunk> fine_;  // in file order
    std::vector<Coarse> coarse_;   // in file order
    std::vector<std::uint32_t> fine_by_hash_;    // positions in fine_
    std::vector<std::uint32_t> coarse_by_hash_;  // positions in coarse_
};

// One piece of the new file: fetched, or copied from a seed's fine or coarse chunk.
struct Piece {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t seed_chunk = no_seed_chunk;  // position in the seed's table, or fetched
    std::uint16_t seed = 0;                    // in SeedChunks
    bool coarse = false;                       // seed_chunk names a coarse chunk
};

// The seeds one file is planned from, each table searched where it lies: a table read
// for several files is shared by all of them.
class SeedChunks {
public:
    // Tables beyond the 65,536th are not searched.
    void add(std::shared_ptr<SeedTable const> table);

    // The first seed's chunk with this hash and size usable at `offset`, as a piece
    // there, or a fetched piece when no seed has one.
    Piece find_fine(std::uint64_t hash, std::uint32_t size, std::uint64_t offset) const;
    Piece find_coarse(std::uint64_t hash, std::uint32_t size, std::uint64_t offset) const;

    SeedTable const& seed(std::uint16_t seed) const { return *tables_[seed]; }
    // Where a copied piece's bytes lie in its seed, and whether they are its chunk's.
    std::uint64_t seed_offset(Piece const& piece) const;
    bool holds(Piece const& piece, char const* bytes) const;
    bool empty() const { return tables_.empty(); }

private:
    std::vector<std::shared_ptr<SeedTable const>> tables_;
};

// What a few windows spread over a large seed show of it: the coarse chunks cut inside
// them (the first of each window left out, since the window may start inside it), and
// their bytes. Tells before reading the whole seed whether it shares anything with a
// file and about how much.
struct SeedSample {
    std::vector<CoarseEntry> coarse;
    std::uint64_t bytes = 0;
};

// Windows read from a sampled seed, each two of the largest coarse chunks long.
inline constexpr std::uint32_t sample_windows = 8;
inline std::uint64_t sample_window(ChunkerParams const& params) { return 2ull * params.coarse_max; }
// A seed up to this size is read whole at once: sampling it would save too little.
inline std::uint64_t sampled_from(ChunkerParams const& params) { return 16 * sample_windows * sample_window(params); }

// Reads the windows of a seed of `size` bytes (more than sampled_from). Throws what
// `read_at` throws.
SeedSample sample_seed(ChunkerParams const& params, std::uint64_t size, ReadAtFn const& read_at);

// About how many bytes of `file` a seed of `seed_size` bytes holds,
// judged from its sample: the share of the sampled bytes in coarse chunks the file has.
std::uint64_t estimated_shared_bytes(SeedSample const& sample, std::uint64_t seed_size, CoarseSet const& file);

// Bytes [first, first + length) of a file: what a range request asks for.
using ByteRange = HttpRange;

struct DeltaPlan {
    std::vector<Piece> pieces;    // in file order, covering the file
    std::vector<ByteRange> ranges;  // of the file, to fetch
    std::uint64_t fetch_bytes = 0;  // the ranges' total
    std::uint64_t index_bytes = 0;  // fine entries fetched to make the plan
};

struct PlanLimits {
    // Which copies between two fetched stretches (and which entries between two fetched
    // runs of the index) are fetched with them: RequestCost::gaps_to_fill.
    RequestCost cost;
    std::uint64_t max_range = 4ull << 20;  // a longer run of fetched bytes (or index entries) is split
    std::uint64_t new_stretch = 8 << 20;   // see make_delta_plan
};

// At or above this share of the file fetched anyway, the whole file is simpler and
// costs no more round trips.
inline constexpr double delta_most_of_file = 0.75;

// Fetches these byte ranges of the chunk index (at once, when it can), in order.
using IndexRangesFn = std::function<std::vector<std::string>(std::vector<ByteRange> const&)>;

// The plan for the file the head describes. Fine entries are fetched (through
// `fetch_index`) only for coarse chunks no seed has, and of a run of such chunks more
// than `new_stretch` long only for its first and last: the inside is new. Throws
// "Érvénytelen darabindex" when fetched entries do not match their coarse entry.
DeltaPlan make_delta_plan(ChunkIndexHead const& head, SeedChunks const& seeds, IndexRangesFn const& fetch_index,
                          PlanLimits const& limits = {});

}  // namespace korvel
