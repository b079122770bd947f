// What a delta update would send for a pack of random bytes (as compressed assets are)
// and four kinds of next version, for several chunking parameter sets: the index head,
// the fine entries fetched, the ranges of the file, and 300 bytes of headers per
// request. It runs the launcher's own planner on the publisher's own indexes, without a
// network, so parameters can be compared in seconds. Not a test.
// Usage: delta_plan_sim [PACK_MIB]   (256 by default)

#include "core/chunk_index.h"
#include "patcher/delta_plan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace korvel;

namespace {

std::mt19937_64 rng(7);

std::string random_bytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t const v = rng();
        std::memcpy(&bytes[i], &v, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

std::size_t between(std::size_t low, std::size_t high) { return low + rng() % (high - low + 1); }

struct Pattern {
    char const* name;
    std::string bytes;
    std::uint64_t new_bytes = 0;  // written anew; the least any method must send
};

// 20 assets of 16-512 KiB replaced by others of other lengths; 16 MiB appended with a
// 64 KiB table at the start rewritten; 300 in-place edits of 1-4 KiB; nothing in common.
std::vector<Pattern> next_versions(std::string const& pack) {
    std::vector<Pattern> out;
    std::string replaced = pack;
    std::vector<std::size_t> at;
    for (int i = 0; i < 20; ++i) at.push_back(between(0, pack.size() - 600000));
    std::sort(at.rbegin(), at.rend());
    std::uint64_t replaced_new = 0;
    for (std::size_t p : at) {
        std::string const asset = random_bytes(between(16 << 10, 512 << 10));
        replaced.replace(p, between(16 << 10, 512 << 10), asset);
        replaced_new += asset.size();
    }
    out.push_back({"replaced", replaced, replaced_new});
    std::string appended = pack;
    appended.replace(0, 64 << 10, random_bytes(64 << 10));
    appended += random_bytes(16 << 20);
    out.push_back({"appended", appended, (64 << 10) + (16 << 20)});
    std::string scattered = pack;
    std::uint64_t scattered_new = 0;
    for (int i = 0; i < 300; ++i) {
        std::size_t const length = between(1024, 4096), p = between(0, pack.size() - length);
        scattered.replace(p, length, random_bytes(length));
        scattered_new += length;
    }
    out.push_back({"scattered", scattered, scattered_new});
    out.push_back({"nothing", random_bytes(pack.size()), pack.size()});
    return out;
}

void report(Pattern const& next, ChunkerParams const& params, SeedChunks const& seeds) {
    std::string const index = chunk_index_of(next.bytes.data(), next.bytes.size(), params);
    ChunkIndexHead const head = read_chunk_index_head(index);
    std::size_t index_requests = 0;
    DeltaPlan const plan = make_delta_plan(head, seeds, [&](std::vector<ByteRange> const& ranges) {
        std::vector<std::string> parts;
        for (ByteRange const& r : ranges) parts.push_back(index.substr(r.first, r.length));
        index_requests += ranges.size();
        return parts;
    });
    std::size_t const requests = 1 + index_requests + plan.ranges.size();
    bool const whole = static_cast<double>(plan.fetch_bytes) >= delta_most_of_file * static_cast<double>(next.bytes.size());
    double const sent = whole ? static_cast<double>(head.head_size() + plan.index_bytes + next.bytes.size() + 600)
                              : static_cast<double>(head.head_size() + plan.index_bytes + plan.fetch_bytes) +
                                    300.0 * static_cast<double>(requests);
    std::printf("  %-10s %6.2f MB new, %8.3f MB sent  (head %zu B, fine entries %llu B, %zu ranges of %llu B, %zu requests)%s\n",
                next.name, static_cast<double>(next.new_bytes) / 1e6, sent / 1e6, head.head_size(), static_cast<unsigned long long>(plan.index_bytes),
                plan.ranges.size(), static_cast<unsigned long long>(plan.fetch_bytes), requests,
                whole ? "  -> whole file" : "");
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t const size = static_cast<std::size_t>(argc > 1 ? std::atoi(argv[1]) : 256) << 20;
    std::string const pack = random_bytes(size);
    std::vector<Pattern> const patterns = next_versions(pack);
    ReadAtFn const read_pack = [&](std::uint64_t offset, char* data, std::size_t n) {
        return pack.copy(data, n, static_cast<std::size_t>(std::min<std::uint64_t>(offset, pack.size())));
    };

    std::vector<ChunkerParams> sets;
    for (std::uint32_t avg : {1024u, 2048u, 4096u})
        for (std::uint32_t coarse_bits : {5u, 6u, 7u})
            sets.push_back({avg / 4, avg, avg * 4, coarse_bits, avg * 16, avg * 256});
    for (ChunkerParams const& params : sets) {
        std::printf("fine %u/%u/%u B, coarse bits %u%s\n", params.min_size, params.avg_size, params.max_size,
                    params.coarse_bits, params == ChunkerParams{} ? " (the publisher's)" : "");
        auto const table = std::make_shared<SeedTable>("pack", false, params);
        table->read(pack.size(), read_pack, {}, {});  // every fine chunk kept, for every pattern
        SeedChunks seeds;
        seeds.add(table);
        for (Pattern const& next : patterns) report(next, params, seeds);
    }
}
