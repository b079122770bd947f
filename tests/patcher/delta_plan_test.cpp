// The plan's limits on what it fetches into memory, whatever the served index says.

#include "core/chunk_index.h"
#include "patcher/delta_plan.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace korvel;

namespace {

ChunkerParams const small_chunks{256, 1024, 4096, 3, 4096, 65536};

}  // namespace

// With nothing in common every fine entry is fetched: in ranges no longer than
// max_range, as are the file's own ranges.
TEST(DeltaPlan, EveryFetchedPieceStaysWithinTheLimit) {
    std::string const file = test::random_bytes(2 << 20, 90);
    std::string const index = chunk_index_of(file.data(), file.size(), small_chunks);
    ChunkIndexHead const head = read_chunk_index_head(index);
    SeedChunks seeds(small_chunks);
    seeds.index();
    PlanLimits limits;
    limits.max_range = 4096;
    limits.new_stretch = UINT64_MAX;
    std::vector<ByteRange> asked;
    DeltaPlan const plan = make_delta_plan(
        head, seeds,
        [&](std::vector<ByteRange> const& ranges) {
            std::vector<std::string> out;
            for (ByteRange const& r : ranges) {
                asked.push_back(r);
                out.push_back(index.substr(r.first, r.length));
            }
            return out;
        },
        limits);
    std::uint64_t index_bytes = 0;
    for (ByteRange const& r : asked) {
        EXPECT_LE(r.length, limits.max_range);
        index_bytes += r.length;
    }
    EXPECT_EQ(index_bytes, index.size() - head.head_size());
    EXPECT_GT(asked.size(), index_bytes / limits.max_range);
    for (ByteRange const& r : plan.ranges) EXPECT_LE(r.length, limits.max_range);
    EXPECT_EQ(plan.fetch_bytes, file.size());

    // A coarse chunk whose entries alone are longer is refused, not fetched.
    limits.max_range = 64;
    asked.clear();
    EXPECT_THROW(make_delta_plan(head, seeds, [&](std::vector<ByteRange> const& r) {
                     asked.insert(asked.end(), r.begin(), r.end());
                     return std::vector<std::string>(r.size());
                 }, limits),
                 std::runtime_error);
    EXPECT_TRUE(asked.empty());
}

// What the sample of a large seed tells of its share of a file, read in a few windows.
TEST(DeltaPlan, SampleEstimatesWhatASeedShares) {
    std::uint64_t const size = sampled_from(small_chunks) + (1 << 20);
    std::string const file = test::random_bytes(size, 91);
    ChunkIndexHead const head = read_chunk_index_head(chunk_index_of(file.data(), file.size(), small_chunks));
    struct Case {
        char const* name;
        std::string seed;
        double low, high;  // of the estimated share of the file
    };
    std::vector<Case> const cases = {
        {"the file itself", file, 0.9, 1.0},
        {"its first half, then other bytes", file.substr(0, size / 2) + test::random_bytes(size - size / 2, 92), 0.25,
         0.75},
        {"nothing in common", test::random_bytes(size, 93), 0.0, 0.0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint64_t read = 0;
        SeedSample const sample =
            sample_seed(small_chunks, c.seed.size(), [&](std::uint64_t offset, char* data, std::size_t n) {
                std::size_t const got = c.seed.copy(data, n, static_cast<std::size_t>(offset));
                read += got;
                return got;
            });
        EXPECT_LE(read, sample_windows * sample_window(small_chunks));
        EXPECT_GT(sample.bytes, 0u);
        double const share =
            static_cast<double>(estimated_shared_bytes(sample, c.seed.size(), head)) / static_cast<double>(size);
        EXPECT_GE(share, c.low);
        EXPECT_LE(share, c.high);
    }
}
