#include "patcher/delta_plan.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

namespace korvel {

namespace {

// Seeds are read in pieces this large: enough to keep the disk streaming, while a
// reading holds about three of them (the piece, and the chunker's copy as it grows).
constexpr std::size_t read_piece = 256 << 10;

template <typename Items, typename Key>
std::vector<std::uint32_t> sorted_positions(Items const& items, Key key) {
    std::vector<std::uint32_t> positions(items.size());
    for (std::uint32_t i = 0; i < positions.size(); ++i) positions[i] = i;
    std::sort(positions.begin(), positions.end(), [&](std::uint32_t a, std::uint32_t b) {
        return key(items[a]) < key(items[b]);
    });
    return positions;
}

}  // namespace

CoarseSet::CoarseSet(ChunkIndexHead const& head) {
    sorted_.reserve(head.coarse.size());
    for (CoarseEntry const& c : head.coarse) sorted_.emplace_back(c.hash, c.size);
    std::sort(sorted_.begin(), sorted_.end());
}

bool CoarseSet::has(std::uint64_t hash, std::uint32_t size) const {
    return std::binary_search(sorted_.begin(), sorted_.end(), std::pair(hash, size));
}

void SeedTable::read(std::uint64_t size, ReadAtFn const& read_at, SeedReadFn const& on_read,
                     WholeCoarseFn const& whole, CutFn const& cut) {
    std::vector<SeedChunk> open;  // the fine chunks of the open coarse chunk
    std::string entries;          // and their serialised entries
    std::uint64_t coarse_size = 0;
    ChunkHashStream coarse_bytes;
    Chunker chunker(params_);
    ChunkFn const keep = [&](Chunk const& c, std::uint8_t const* bytes) {
        open.emplace_back(c.hash, c.size, c.offset);
        append_fine_entry(entries, {c.size, fine_hash_of(c.hash)});
        coarse_bytes.feed(bytes, c.size);
        coarse_size += c.size;
        if (!c.ends_coarse) return;
        // Valid parameters cut coarse chunks below 65 MiB.
        Coarse const made{coarse_hash_of(entries), coarse_bytes.value(), open.front().offset(),
                          static_cast<std::uint32_t>(coarse_size)};
        coarse_.push_back(made);
        if (cut) cut(made);
        if (!whole || !whole(made.hash, made.size)) fine_.insert(fine_.end(), open.begin(), open.end());
        open.clear();
        entries.clear();
        coarse_bytes.reset();
        coarse_size = 0;
    };
    std::vector<char> buffer(std::min<std::uint64_t>(read_piece, std::max<std::uint64_t>(size, 1)));
    for (std::size_t got; chunker.fed() < SeedChunk::largest_seed &&
                             (got = read_at(chunker.fed(), buffer.data(), buffer.size())) > 0;) {
        chunker.feed(buffer.data(), got, keep);
        if (on_read) on_read(chunker.fed());
    }
    chunker.finish(keep);
    fine_.shrink_to_fit();
    coarse_.shrink_to_fit();
    fine_by_hash_ = sorted_positions(fine_, [](SeedChunk const& c) { return c.hash(); });
    coarse_by_hash_ = sorted_positions(coarse_, [](Coarse const& c) { return c.hash; });
}

SeedChunk const* SeedTable::find_fine(std::uint64_t hash, std::uint32_t size, std::uint64_t offset) const {
    auto it = std::lower_bound(fine_by_hash_.begin(), fine_by_hash_.end(), hash,
                               [&](std::uint32_t p, std::uint64_t h) { return fine_[p].hash() < h; });
    for (; it != fine_by_hash_.end() && fine_[*it].hash() == hash; ++it)
        if (fine_[*it].size() == size && usable(fine_[*it].offset(), offset)) return &fine_[*it];
    return nullptr;
}

SeedTable::Coarse const* SeedTable::find_coarse(std::uint64_t hash, std::uint32_t size, std::uint64_t offset) const {
    auto it = std::lower_bound(coarse_by_hash_.begin(), coarse_by_hash_.end(), hash,
                               [&](std::uint32_t p, std::uint64_t h) { return coarse_[p].hash < h; });
    for (; it != coarse_by_hash_.end() && coarse_[*it].hash == hash; ++it)
        if (coarse_[*it].size == size && usable(coarse_[*it].offset, offset)) return &coarse_[*it];
    return nullptr;
}

void SeedChunks::add(std::shared_ptr<SeedTable const> table) {
    if (tables_.size() <= UINT16_MAX) tables_.push_back(std::move(table));
}

Piece SeedChunks::find_fine(std::uint64_t hash, std::uint32_t size, std::uint64_t offset) const {
    for (std::uint16_t s = 0; s < tables_.size(); ++s)
        if (SeedChunk const* const c = tables_[s]->find_fine(hash, size, offset))
            return {offset, size, tables_[s]->position_of(*c), s, false};
    return {offset, size};
}

Piece SeedChunks::find_coarse(std::uint64_t hash, std::uint32_t size, std::uint64_t offset) const {
    for (std::uint16_t s = 0; s < tables_.size(); ++s)
        if (SeedTable::Coarse const* const c = tables_[s]->find_coarse(hash, size, offset))
            return {offset, size, tables_[s]->position_of(*c), s, true};
    return {offset, size};
}

std::uint64_t SeedChunks::seed_offset(Piece const& piece) const {
    SeedTable const& table = *tables_[piece.seed];
    return piece.coarse ? table.coarse(piece.seed_chunk).offset : table.fine(piece.seed_chunk).offset();
}

// A fine chunk by its hash, a coarse one by the hash of its bytes taken as it was read.
bool SeedChunks::holds(Piece const& piece, char const* bytes) const {
    SeedTable const& table = *tables_[piece.seed];
    if (!piece.coarse) return fine_hash_of(chunk_hash(bytes, piece.size)) == table.fine(piece.seed_chunk).hash();
    return chunk_hash(bytes, piece.size) == table.coarse(piece.seed_chunk).bytes;
}

SeedSample sample_seed(ChunkerParams const& params, std::uint64_t size, ReadAtFn const& read_at) {
    SeedSample sample;
    std::uint64_t const window = sample_window(params);
    std::vector<char> buffer(static_cast<std::size_t>(window));
    for (std::uint32_t w = 0; w < sample_windows; ++w) {
        std::uint64_t const at = (size - window) / (sample_windows - 1) * w;
        std::size_t const got = read_at(at, buffer.data(), buffer.size());
        Chunker chunker(params);
        std::string entries;
        bool first = true;  // the coarse chunk the window starts inside
        std::uint64_t coarse_size = 0;
        // Not finished: the chunk open at the window's end is cut short.
        chunker.feed(buffer.data(), got, [&](Chunk const& c, std::uint8_t const*) {
            append_fine_entry(entries, {c.size, fine_hash_of(c.hash)});
            coarse_size += c.size;
            if (!c.ends_coarse) return;
            if (!first) {
                sample.coarse.push_back({coarse_hash_of(entries), static_cast<std::uint32_t>(coarse_size), 0});
                sample.bytes += coarse_size;
            }
            first = false;
            entries.clear();
            coarse_size = 0;
        });
    }
    return sample;
}

std::uint64_t estimated_shared_bytes(SeedSample const& sample, std::uint64_t seed_size, CoarseSet const& file) {
    if (sample.bytes == 0) return seed_size;  // nothing to judge by: worth reading
    std::uint64_t shared = 0;
    for (CoarseEntry const& c : sample.coarse)
        if (file.has(c.hash, c.size)) shared += c.size;
    return static_cast<std::uint64_t>(static_cast<double>(seed_size) * static_cast<double>(shared) /
                                      static_cast<double>(sample.bytes));
}

namespace {

// Coarse chunks whose fine entries are worth fetching: every one no seed has, except
// the inside of a long run of them (more than `new_stretch` bytes between its first and
// last chunk), which is taken as new: appended assets, a pack with nothing in common.
// Fine entries cost about 12 bytes per fine chunk, so a short run's are always worth it.
std::vector<bool> coarse_needing_fine(ChunkIndexHead const& head, std::vector<bool> const& matched,
                                      std::uint64_t new_stretch) {
    std::vector<bool> need(matched.size(), false);
    for (std::size_t i = 0; i < matched.size();) {
        if (matched[i]) {
            ++i;
            continue;
        }
        std::size_t end = i;
        std::uint64_t inside = 0;
        while (end < matched.size() && !matched[end]) inside += head.coarse[end++].size;
        inside -= head.coarse[i].size;
        if (end - i > 1) inside -= head.coarse[end - 1].size;
        if (inside <= new_stretch) {
            for (std::size_t k = i; k < end; ++k) need[k] = true;
        } else {
            need[i] = need[end - 1] = true;
        }
        i = end;
    }
    return need;
}

// Fetches the needed fine entries in few ranges (near neighbours merged, none longer
// than max_range) and checks each coarse chunk's entries against its hash. Throws
// "Érvénytelen darabindex" for a coarse chunk whose entries alone would be longer: no
// index the publisher makes has one, and it is not fetched into memory.
std::vector<std::vector<FineEntry>> fetch_fine_entries(ChunkIndexHead const& head, std::vector<bool> const& need,
                                                       IndexRangesFn const& fetch_index, PlanLimits const& limits,
                                                       std::uint64_t& fetched) {
    std::vector<std::uint64_t> first_fine(head.coarse.size() + 1, 0);
    for (std::size_t c = 0; c < head.coarse.size(); ++c) first_fine[c + 1] = first_fine[c] + head.coarse[c].fine_count;
    auto const at = [&](std::size_t c) { return head.head_size() + first_fine[c] * fine_entry_size; };

    // Runs of needed coarse chunks, and the index bytes between one and the next.
    struct Group {
        std::size_t first, last;
    };
    std::vector<Group> runs;
    for (std::size_t c = 0; c < head.coarse.size(); ++c) {
        if (!need[c]) continue;
        if (!runs.empty() && runs.back().last + 1 == c)
            runs.back().last = c;
        else
            runs.push_back({c, c});
    }
    std::vector<std::uint64_t> gaps;
    std::uint64_t needed = 0;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        needed += at(runs[r].last + 1) - at(runs[r].first);
        if (r > 0) gaps.push_back(at(runs[r].first) - at(runs[r - 1].last + 1));
    }
    std::vector<bool> const fill = limits.cost.gaps_to_fill(gaps, needed);
    // One request from coarse chunk `first` to `last`: runs joined across filled gaps,
    // split where they would grow past max_range.
    std::vector<Group> groups;
    std::vector<ByteRange> ranges;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        for (std::size_t c = runs[r].first; c <= runs[r].last; ++c) {
            if (at(c + 1) - at(c) > limits.max_range) throw std::runtime_error("Érvénytelen darabindex");
            bool const joins = !groups.empty() && (c != runs[r].first || fill[r - 1]) &&
                               at(c + 1) - at(groups.back().first) <= limits.max_range;
            if (joins) {
                groups.back().last = c;
                ranges.back().length = at(c + 1) - ranges.back().first;
            } else {
                groups.push_back({c, c});
                ranges.push_back({at(c), at(c + 1) - at(c)});
            }
        }
    }
    std::vector<std::vector<FineEntry>> entries(head.coarse.size());
    if (groups.empty()) return entries;
    std::vector<std::string> const fetched_bytes = fetch_index(ranges);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        std::string const& bytes = fetched_bytes.at(g);
        if (bytes.size() != ranges[g].length) throw std::runtime_error("Érvénytelen darabindex");
        fetched += bytes.size();
        for (std::size_t k = groups[g].first; k <= groups[g].last; ++k) {
            if (!need[k]) continue;
            std::string_view const own = std::string_view(bytes).substr(at(k) - at(groups[g].first), at(k + 1) - at(k));
            if (coarse_hash_of(own) != head.coarse[k].hash) throw std::runtime_error("Érvénytelen darabindex");
            entries[k] = read_fine_entries(own);
        }
    }
    return entries;
}

// Copies between two fetched stretches that cost less to fetch than a request of their
// own are fetched with them; then the fetched pieces become ranges of at most max_range
// bytes.
void make_ranges(DeltaPlan& plan, PlanLimits const& limits) {
    std::vector<Piece>& pieces = plan.pieces;
    std::vector<std::uint64_t> gaps;
    std::vector<std::size_t> gap_first;  // the first piece of each gap; it ends at the next fetched one
    std::uint64_t fetched = 0;
    std::size_t last_fetch = SIZE_MAX;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (pieces[i].seed_chunk != no_seed_chunk) continue;
        fetched += pieces[i].size;
        if (last_fetch != SIZE_MAX && i > last_fetch + 1) {
            gaps.push_back(pieces[i].offset - (pieces[last_fetch].offset + pieces[last_fetch].size));
            gap_first.push_back(last_fetch + 1);
        }
        last_fetch = i;
    }
    std::vector<bool> const fill = limits.cost.gaps_to_fill(gaps, fetched);
    for (std::size_t g = 0; g < gaps.size(); ++g)
        for (std::size_t k = gap_first[g]; fill[g] && pieces[k].seed_chunk != no_seed_chunk; ++k)
            pieces[k].seed_chunk = no_seed_chunk;
    for (Piece const& p : pieces) {
        if (p.seed_chunk != no_seed_chunk) continue;
        plan.fetch_bytes += p.size;
        if (!plan.ranges.empty()) {
            ByteRange& open = plan.ranges.back();
            if (open.first + open.length == p.offset && open.length + p.size <= limits.max_range) {
                open.length += p.size;
                continue;
            }
        }
        plan.ranges.push_back({p.offset, p.size});
    }
}

}  // namespace

DeltaPlan make_delta_plan(ChunkIndexHead const& head, SeedChunks const& seeds, IndexRangesFn const& fetch_index,
                          PlanLimits const& limits) {
    std::size_t const n = head.coarse.size();
    std::vector<std::uint64_t> offsets(n + 1, 0);
    std::vector<Piece> found(n);
    std::vector<bool> matched(n);
    for (std::size_t c = 0; c < n; ++c) {
        offsets[c + 1] = offsets[c] + head.coarse[c].size;
        found[c] = seeds.find_coarse(head.coarse[c].hash, head.coarse[c].size, offsets[c]);
        matched[c] = found[c].seed_chunk != no_seed_chunk;
    }
    DeltaPlan plan;
    std::vector<std::vector<FineEntry>> const fine =
        fetch_fine_entries(head, coarse_needing_fine(head, matched, limits.new_stretch), fetch_index, limits, plan.index_bytes);

    for (std::size_t c = 0; c < n; ++c) {
        std::uint64_t offset = offsets[c];
        if (matched[c] || fine[c].empty()) {
            plan.pieces.push_back(found[c]);
            continue;
        }
        for (FineEntry const& f : fine[c]) {
            plan.pieces.push_back(seeds.find_fine(f.hash, f.size, offset));
            offset += f.size;
        }
        if (offset != offsets[c + 1]) throw std::runtime_error("Érvénytelen darabindex");
    }
    make_ranges(plan, limits);
    return plan;
}

}  // namespace korvel
