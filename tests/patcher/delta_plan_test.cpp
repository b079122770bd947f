// The plan's limits on what it fetches into memory, whatever the served index says, and
// what the seeds it is made from keep in memory, and what the cost of a request on the
// measured link makes of its ranges.

#include "core/chunk_index.h"
#include "patcher/delta_plan.h"
#include "patcher/seed_library.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace korvel;

namespace {

ChunkerParams const small_chunks{256, 1024, 4096, 3, 4096, 65536};

ReadAtFn reader_of(std::string const& bytes) {
    return [&bytes](std::uint64_t offset, char* data, std::size_t n) {
        return bytes.copy(data, n, static_cast<std::size_t>(std::min<std::uint64_t>(offset, bytes.size())));
    };
}

DeltaPlan plan_from(std::string const& index, SeedChunks const& seeds) {
    return make_delta_plan(read_chunk_index_head(index), seeds, [&](std::vector<ByteRange> const& ranges) {
        std::vector<std::string> out;
        for (ByteRange const& r : ranges) out.push_back(index.substr(r.first, r.length));
        return out;
    });
}

}  // namespace

// With nothing in common every fine entry is fetched: in ranges no longer than
// max_range, as are the file's own ranges.
TEST(DeltaPlan, EveryFetchedPieceStaysWithinTheLimit) {
    std::string const file = test::random_bytes(2 << 20, 90);
    std::string const index = chunk_index_of(file.data(), file.size(), small_chunks);
    ChunkIndexHead const head = read_chunk_index_head(index);
    SeedChunks const seeds;
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
    CoarseSet const coarse(read_chunk_index_head(chunk_index_of(file.data(), file.size(), small_chunks)));
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
            static_cast<double>(estimated_shared_bytes(sample, c.seed.size(), coarse)) / static_cast<double>(size);
        EXPECT_GE(share, c.low);
        EXPECT_LE(share, c.high);
    }
}

// A seed's table keeps the fine chunks only of the coarse chunks the file lacks, about
// the places it changed, and the plan made from it fetches and copies exactly what the
// plan from every fine chunk does.
TEST(DeltaPlan, SeedTableKeepsFineChunksOnlyWhereTheFileChanged) {
    std::string const seed = test::random_bytes(2 << 20, 94);
    std::string file = seed;
    for (std::size_t at : {300000u, 1100000u, 1900000u}) file.replace(at, 500, test::random_bytes(700, at));
    std::string const index = chunk_index_of(file.data(), file.size(), small_chunks);
    CoarseSet const coarse(read_chunk_index_head(index));

    auto const all = std::make_shared<SeedTable>("seed", false, small_chunks);
    all->read(seed.size(), reader_of(seed), {}, {});
    auto const kept = std::make_shared<SeedTable>("seed", false, small_chunks);
    kept->read(seed.size(), reader_of(seed), {}, [&](std::uint64_t h, std::uint32_t n) { return coarse.has(h, n); });
    EXPECT_GT(kept->fine_count(), 0u);
    EXPECT_LT(kept->fine_count() * 10, all->fine_count());

    SeedChunks from_all, from_kept;
    from_all.add(all);
    from_kept.add(kept);
    DeltaPlan const a = plan_from(index, from_all), k = plan_from(index, from_kept);
    EXPECT_EQ(k.fetch_bytes, a.fetch_bytes);
    EXPECT_EQ(k.index_bytes, a.index_bytes);
    EXPECT_LT(k.fetch_bytes, 3 * 2 * small_chunks.max_size);
}

// A shared seed is read once for every file that asks while any file expected to use
// it is still to come, and dropped after the last: asked again then, it is read again.
TEST(SeedLibrary, ReadsASeedOnceUntilTheLastExpectedFileIsDone) {
    test::TempDir dir("seeds");
    std::filesystem::path const file = dir.path() / "old.pak";
    std::string const bytes = test::random_bytes(1 << 20, 95);
    test::write_file(file, bytes);
    auto const wanted = std::make_shared<CoarseSet const>(read_chunk_index_head(chunk_index_of("", 0, small_chunks)));
    SeedLibrary library;
    auto const ask = [&] { return library.chunks(file, "old.pak", bytes.size(), small_chunks, wanted, {}); };
    library.expect(file);
    library.expect(file);
    std::shared_ptr<SeedTable const> const first = ask();
    EXPECT_EQ(ask(), first);
    library.done_with(file);
    EXPECT_EQ(ask(), first);
    EXPECT_EQ(library.bytes_read().at("old.pak"), bytes.size());
    library.done_with(file);
    EXPECT_NE(ask(), first);
    EXPECT_EQ(library.bytes_read().at("old.pak"), 2 * bytes.size());
}

// What the run's measurements make of range requests: how many stay in flight, and
// which gaps between fetched stretches are fetched with them.
TEST(RequestCost, InFlightAndFilledGapsFollowTheMeasuredLink) {
    RangeTiming const slow_line{0.05, 0.5, 250000, 2};  // 1 MB/s
    RangeTiming const near_server{0.002, 0.0, 8192, 1};
    struct Case {
        char const* name;
        std::vector<RangeTiming> measured;
        std::uint64_t typical_range;
        std::size_t in_flight;
        std::vector<std::uint64_t> gaps;
        std::uint64_t fetched;
        std::vector<bool> filled;
    };
    std::vector<Case> const cases = {
        // Nothing measured: 50 ms at 12.5 MB/s, 625 KB on the line.
        {"small ranges, the most", {}, 8192, 32, {300, 20000, 100}, 40000, {true, false, true}},
        {"large ranges, the fewest", {}, 4 << 20, 4, {20000, 150000, 10000}, 4000000, {true, false, true}},
        {"filling stops at 1 % more bytes", {}, 100000, 8, {300, 200, 150}, 40000, {false, true, true}},
        {"a transfer too short to measure the rate", {{0.05, 0.01, 8192, 4}}, 100000, 8, {350, 20000}, 3000000,
         {true, true}},
        // The shortest wait for a first byte is the round trip.
        {"a near server", {{0.1, 0.0, 8192, 1}, near_server}, 8192, 5, {350, 7000}, 3000000, {true, false}},
        {"a slow line", {slow_line}, 8192, 8, {350, 20000}, 3000000, {true, false}},
        {"a slow line measured twice", {slow_line, {0.05, 0.25, 250000, 2}}, 5000, 14, {}, 0, {}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        RequestCost cost;
        for (RangeTiming const& t : c.measured) cost.observe(t);
        EXPECT_EQ(cost.in_flight(c.typical_range), c.in_flight);
        EXPECT_EQ(cost.gaps_to_fill(c.gaps, c.fetched), c.filled);
    }
}

// A server that answered several ranges otherwise than as asked gets one range per
// request for the rest of the run; its other ports and schemes, and other servers, not.
TEST(RangeSlots, JoinedRangesStopOnlyForTheServerThatRefusedThem) {
    RangeSlots slots;
    EXPECT_TRUE(slots.joins_ranges("http://cdn:8080/r/1/files/a.pak"));
    slots.refuses_joined_ranges("http://cdn:8080/r/1/files/a.pak");
    for (auto const& [url, joins] : std::vector<std::pair<char const*, bool>>{{"http://cdn:8080/r/2/b.pak", false},
                                                                               {"http://cdn:8080", false},
                                                                               {"http://cdn:8081/r/1/files/a.pak", true},
                                                                               {"https://cdn:8080/r/1/files/a.pak", true},
                                                                               {"http://mirror:8080/r/1/a.pak", true}})
        EXPECT_EQ(slots.joins_ranges(url), joins) << url;
}

// Two edited stretches with a few unchanged bytes between them: one range when the
// round trip is worth more than those bytes, two when it costs next to nothing.
TEST(RequestCost, PlanFillsTheGapOnlyWhenARequestCostsMore) {
    std::string const old_file = test::random_bytes(1 << 20, 94);
    std::string new_file = old_file;
    new_file.replace(100000, 200000, test::random_bytes(200000, 95));
    new_file.replace(303000, 200000, test::random_bytes(200000, 96));
    std::string const index = chunk_index_of(new_file.data(), new_file.size(), small_chunks);
    ChunkIndexHead const head = read_chunk_index_head(index);
    auto const table = std::make_shared<SeedTable>("old", false, small_chunks);
    table->read(old_file.size(), reader_of(old_file), {}, {});
    SeedChunks seeds;
    seeds.add(table);
    auto const plan_with = [&](RequestCost const& cost) {
        PlanLimits limits;
        limits.cost = cost;
        return make_delta_plan(
            head, seeds,
            [&](std::vector<ByteRange> const& ranges) {
                std::vector<std::string> out;
                for (ByteRange const& r : ranges) out.push_back(index.substr(r.first, r.length));
                return out;
            },
            limits);
    };
    RequestCost instant;
    instant.observe({0.00001, 0.0, 8192, 1});
    DeltaPlan const apart = plan_with(instant);
    DeltaPlan const together = plan_with(RequestCost{});
    ASSERT_EQ(apart.ranges.size(), 2u);
    ASSERT_EQ(together.ranges.size(), 1u);
    std::uint64_t const gap = apart.ranges[1].first - (apart.ranges[0].first + apart.ranges[0].length);
    EXPECT_GT(gap, 0u);
    EXPECT_EQ(together.fetch_bytes, apart.fetch_bytes + gap);
}
