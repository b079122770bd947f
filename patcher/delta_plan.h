#pragma once
// Rebuilding a file from chunks the player already has: the chunks of the local seeds
// (the old file, files the manifest deletes, an interrupted part), matched against the
// new file's chunk index, and the plan that says for every piece of the new file where
// it comes from: a seed, or a ranged request to the server.

#include "core/chunk_index.h"
#include "patcher/request_cost.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace korvel {

inline constexpr std::uint32_t no_seed_chunk = 0xffffffffu;

// One fine chunk of a seed in 16 bytes, since a seed of a few GiB has millions: its
// 48-bit hash with its size (below 64 KiB), and its offset (below 1 TiB) with the seed's
// position in the seed list.
class SeedChunk {
public:
    static constexpr std::uint64_t largest_seed = 1ull << 40;

    SeedChunk(std::uint64_t hash, std::uint32_t size, std::uint64_t offset, std::uint32_t seed)
        : hash_size_(fine_hash_of(hash) | std::uint64_t{size} << 48),
          offset_seed_(offset | std::uint64_t{seed} << 40) {}

    std::uint64_t hash() const { return hash_size_ & 0xffffffffffffull; }  // fine_hash_of the chunk
    std::uint32_t size() const { return static_cast<std::uint32_t>(hash_size_ >> 48); }
    std::uint64_t offset() const { return offset_seed_ & (largest_seed - 1); }
    std::uint32_t seed() const { return static_cast<std::uint32_t>(offset_seed_ >> 40); }
    void move_to_seed(std::uint32_t seed) { offset_seed_ = offset() | std::uint64_t{seed} << 40; }

private:
    std::uint64_t hash_size_;
    std::uint64_t offset_seed_;
};
static_assert(sizeof(SeedChunk) == 16);

// Reads up to `size` bytes at `offset` into `data`; fewer only at the end of the file.
using ReadAtFn = std::function<std::size_t(std::uint64_t offset, char* data, std::size_t size)>;
// Called with the bytes of the seed read so far.
using SeedReadFn = std::function<void(std::uint64_t)>;

class SeedChunks {
public:
    explicit SeedChunks(ChunkerParams const& params) : params_(params) {}

    // Chunks a whole file of about `size` bytes, read through `read_at`. An `aligned`
    // seed (the part being written over) offers its chunks only at the offset they
    // already have. Throws what `read_at` throws; what was read of it before is dropped.
    // Reads only up to SeedChunk::largest_seed bytes.
    void add(std::filesystem::path const& file, std::uint64_t size, bool aligned, ReadAtFn const& read_at,
             SeedReadFn const& on_read);
    // Takes in the chunks of every seed of `other` (made with the same parameters),
    // copied: a seed read once serves every file of the run that can use it.
    void add(SeedChunks const& other);
    // After the last add: makes the chunks searchable.
    void index();

    // A seed's fine chunk with this hash and size usable at `offset`, or null.
    SeedChunk const* find_fine(std::uint64_t hash, std::uint32_t size, std::uint64_t offset) const;
    // The fine chunks of a seed's coarse chunk with this hash and size usable at
    // `offset`; empty when there is none.
    std::span<SeedChunk const> find_coarse(std::uint64_t hash, std::uint32_t size, std::uint64_t offset) const;

    std::uint32_t position_of(SeedChunk const& chunk) const {
        return static_cast<std::uint32_t>(&chunk - fine_.data());
    }
    SeedChunk const& chunk(std::uint32_t position) const { return fine_[position]; }
    std::size_t chunk_count() const { return fine_.size(); }
    std::filesystem::path const& path(std::uint32_t seed) const { return seeds_[seed].path; }
    bool aligned(std::uint32_t seed) const { return seeds_[seed].aligned; }
    bool empty() const { return fine_.empty(); }

private:
    struct Seed {
        std::filesystem::path path;
        bool aligned = false;
    };
    struct Coarse {
        std::uint64_t hash = 0;
        std::uint32_t size = 0;
        std::uint32_t first = 0;  // in fine_
        std::uint32_t count = 0;
    };
    bool usable(SeedChunk const& chunk, std::uint64_t offset) const {
        return !seeds_[chunk.seed()].aligned || chunk.offset() == offset;
    }

    ChunkerParams params_;
    std::vector<Seed> seeds_;
    std::vector<SeedChunk> fine_;  // seed by seed, in file order
    std::vector<Coarse> coarse_;
    std::vector<std::uint32_t> fine_by_hash_;    // positions in fine_
    std::vector<std::uint32_t> coarse_by_hash_;  // positions in coarse_
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

// About how many bytes of the file `head` describes a seed of `seed_size` bytes holds,
// judged from its sample: the share of the sampled bytes in coarse chunks the file has.
std::uint64_t estimated_shared_bytes(SeedSample const& sample, std::uint64_t seed_size, ChunkIndexHead const& head);

// One piece of the new file: fetched, or copied from a seed, starting with the seed
// chunk at `seed_chunk` and going on through the chunks after it in that seed (a
// whole coarse chunk is one piece).
struct Piece {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t seed_chunk = no_seed_chunk;  // position in SeedChunks, or fetched
};

struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t length = 0;
};

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
