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
