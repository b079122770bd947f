#include "patcher/delta_update.h"

#include "core/chunk_index.h"
#include "core/sha256.h"
#include "patcher/delta_plan.h"
#include "patcher/seed_library.h"
#include "platform/files.h"
#include "platform/open_file.h"

#include <algorithm>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace korvel {

namespace {

// Thrown inside this file when the delta gives up; the whole file is fetched instead.
constexpr std::uint64_t max_index_head = 16 << 20;

struct GiveUp : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The seeds that are there to read, with their sizes.
std::vector<std::pair<DeltaSeed, std::uint64_t>> present(std::vector<DeltaSeed> const& seeds) {
    std::vector<std::pair<DeltaSeed, std::uint64_t>> out;
    for (DeltaSeed const& s : seeds) {
        if (!is_regular_file_at(s.file)) continue;
        try {
            if (std::uint64_t const size = korvel::file_size(s.file); size > 0) out.push_back({s, size});
        } catch (std::exception const&) {
        }
    }
    return out;
}

// Where range requests go: the run's session, and the stage's cancel that ends them all.
struct Network {
    HttpSession& http;
    DownloadCancel const* cancel;
};

// Requests of one file in flight at once: a round trip costs more than the bytes of a
// small range, and the run's session keeps connections for them.
constexpr std::size_t parallel_ranges = 4;
// Fetched ranges held in memory, waiting for their turn in the part.
constexpr std::uint64_t batch_bytes = 8 << 20;

// The bytes that have travelled for one file, counted from any thread.
class Travel {
public:
    explicit Travel(DeltaEvents const& events) : events_(events) {}
    void add(std::uint64_t bytes) {
        std::lock_guard const lock(mutex_);
        total_ += bytes;
        if (events_.travelled) events_.travelled(total_);
    }
    std::uint64_t total() {
        std::lock_guard const lock(mutex_);
        return total_;
    }
    DeltaEvents const& events() const { return events_; }

private:
    DeltaEvents const& events_;
    std::mutex mutex_;
    std::uint64_t total_ = 0;
};

// Bytes [first, first + length) of `url` into `into`, asked again as long as
// events.retry says (an overloaded server, a broken line): the plan stays, and only the
// range is asked for again. A range not served as asked is not retried.
void get_range(Network const& network, std::string const& url, std::uint64_t first, std::uint64_t length,
               std::string& into, Travel& travel, std::vector<char>& buffer) {
    TransferTries tries;
    for (;;) {
        into.clear();
        try {
            http_get_range(
                network.http, url, first, length,
                [&](char const* data, std::size_t size) {
                    into.append(data, size);
                    travel.add(size);
                },
                buffer, network.cancel);
            return;
        } catch (HttpRangeRefused const&) {
            throw;
        } catch (...) {
            DeltaEvents const& events = travel.events();
            if (!events.retry || !events.retry(std::current_exception(), tries)) throw;
        }
    }
}

// The ranges of `url`, each into memory, up to parallel_ranges requests at once over the
// run's session. The first failure (or stop) is thrown once every request has ended.
std::vector<std::string> fetch_ranges(Network const& network, std::string const& url, std::span<ByteRange const> ranges,
                                      Travel& travel) {
    std::vector<std::string> out(ranges.size());
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::exception_ptr failure;
    auto const work = [&] {
        std::vector<char> buffer;
        try {
            for (std::size_t i; (i = next++) < ranges.size();) {
                out[i].reserve(ranges[i].length);
                get_range(network, url, ranges[i].first, ranges[i].length, out[i], travel, buffer);
            }
        } catch (...) {
            std::lock_guard const lock(mutex);
            if (!failure) failure = std::current_exception();
            next = ranges.size();
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (std::size_t k = 1; k < std::min(parallel_ranges, ranges.size()); ++k) helpers.emplace_back(work);
        work();
    }
    if (failure) std::rethrow_exception(failure);
    return out;
}

class Assembler {
public:
    Assembler(Network const& network, std::string const& url, fs::path const& part, SeedChunks const& seeds,
              Travel& travel)
        : network_(network), url_(url), part_(part), seeds_(seeds), travel_(travel) {}

    bool touched_part = false;  // from here on a failure leaves a part worth nothing

    std::string run(DeltaPlan const& plan);

private:
    std::size_t copy_run(std::vector<Piece> const& pieces, std::size_t first);
    void place_range(std::vector<ByteRange> const& ranges, std::size_t index);
    OpenFile const& seed_file(std::uint16_t seed);
    void write_at(std::uint64_t offset, char const* data, std::size_t size);

    Network const& network_;
    std::string const& url_;
    fs::path const& part_;
    SeedChunks const& seeds_;
    Travel& travel_;
    std::vector<std::string> batch_;  // fetched ranges from batch_first_ on
    std::size_t batch_first_ = 0;
    std::optional<OpenFile> out_;
    std::vector<std::unique_ptr<OpenFile const>> inputs_;
    std::vector<char> copy_buffer_;
    Sha256 hash_;
};

std::string Assembler::run(DeltaPlan const& plan) {
    touched_part = true;
    out_.emplace(part_, OpenFile::Access::read_write);
    std::vector<Piece> const& pieces = plan.pieces;
    std::size_t range = 0;
    for (std::size_t i = 0; i < pieces.size();) {
        if (pieces[i].seed_chunk != no_seed_chunk) {
            i = copy_run(pieces, i);
            continue;
        }
        ByteRange const& r = plan.ranges.at(range);
        if (r.first != pieces[i].offset) throw std::logic_error("delta plan out of order");
        place_range(plan.ranges, range++);
        while (i < pieces.size() && pieces[i].offset < r.first + r.length) ++i;
    }
    std::uint64_t const size = pieces.empty() ? 0 : pieces.back().offset + pieces.back().size;
    out_->resize(size);  // a longer old part keeps no tail
    out_.reset();
    return to_hex(hash_.finalize());
}

OpenFile const& Assembler::seed_file(std::uint16_t seed) {
    SeedTable const& table = seeds_.seed(seed);
    if (table.aligned()) return *out_;
    if (inputs_.size() <= seed) inputs_.resize(seed + 1);
    if (!inputs_[seed]) inputs_[seed] = std::make_unique<OpenFile const>(table.path(), OpenFile::Access::read);
    return *inputs_[seed];
}

void Assembler::write_at(std::uint64_t offset, char const* data, std::size_t size) {
    out_->write_at(offset, data, size);
}

// Copies the pieces from `first` on that follow one another in one seed (up to 1 MiB,
// or one larger piece) with one read, checking every piece; returns the next piece.
std::size_t Assembler::copy_run(std::vector<Piece> const& pieces, std::size_t first) {
    std::uint16_t const seed = pieces[first].seed;
    std::uint64_t const start = seeds_.seed_offset(pieces[first]);
    std::size_t end = first;
    std::uint64_t length = 0;
    while (end < pieces.size() && pieces[end].seed_chunk != no_seed_chunk && pieces[end].seed == seed &&
           seeds_.seed_offset(pieces[end]) == start + length && (end == first || length + pieces[end].size <= (1u << 20)))
        length += pieces[end++].size;
    copy_buffer_.resize(length);
    if (seed_file(seed).read_at(start, copy_buffer_.data(), length) != length) throw GiveUp("seed changed");
    for (std::size_t k = first, at = 0; k < end; at += pieces[k++].size)
        if (!seeds_.holds(pieces[k], copy_buffer_.data() + at)) throw GiveUp("seed changed");
    // The part's own chunks already lie where they belong.
    if (!seeds_.seed(seed).aligned()) write_at(pieces[first].offset, copy_buffer_.data(), length);
    hash_.update(copy_buffer_.data(), length);
    return end;
}

// Writes range `index` into the part, fetching it with the ranges after it (up to
// batch_bytes) when it has not arrived yet.
void Assembler::place_range(std::vector<ByteRange> const& ranges, std::size_t index) {
    if (index < batch_first_ || index >= batch_first_ + batch_.size()) {
        std::size_t end = index;
        std::uint64_t bytes = 0;
        while (end < ranges.size() && end - index < 2 * parallel_ranges &&
               (end == index || bytes + ranges[end].length <= batch_bytes))
            bytes += ranges[end++].length;
        batch_.clear();
        batch_ = fetch_ranges(network_, url_, std::span(ranges).subspan(index, end - index), travel_);
        batch_first_ = index;
    }
    std::string& bytes = batch_[index - batch_first_];
    write_at(ranges[index].first, bytes.data(), bytes.size());
    hash_.update(bytes.data(), bytes.size());
    std::string().swap(bytes);
}

// The seeds worth reading for `file`, of `file_size` bytes. A large seed whose sample
// shares nothing with the file is left unread; when all of them together are expected
// to hold no more than the quarter of the file that makes a delta worth it, none is
// read and the whole file is fetched at once.
std::vector<std::pair<DeltaSeed, std::uint64_t>> seeds_worth_reading(
    SeedLibrary& library, std::vector<std::pair<DeltaSeed, std::uint64_t>> const& seeds, ChunkerParams const& params,
    CoarseSet const& file, std::uint64_t file_size) {
    std::vector<std::pair<DeltaSeed, std::uint64_t>> chosen;
    std::uint64_t expected = 0;
    for (auto const& [seed, size] : seeds) {
        std::uint64_t shares = size;
        if (!seed.aligned && size > sampled_from(params)) {
            try {
                shares = estimated_shared_bytes(library.sample(seed.file, seed.name, size, params), size, file);
            } catch (std::exception const&) {
                continue;
            }
            if (shares == 0) continue;
        }
        expected += std::min(shares, file_size);
        chosen.push_back({seed, size});
    }
    if (static_cast<double>(expected) <= (1 - delta_most_of_file) * static_cast<double>(file_size)) chosen.clear();
    return chosen;
}

// The tables of the chosen seeds, made with the index's chunker for the file of
// `wanted` (a shared one read only when no other file has read it yet), reporting as
// they are read. A seed that cannot be read is left out.
SeedChunks read_seeds(SeedLibrary& library, std::vector<std::pair<DeltaSeed, std::uint64_t>> const& seeds,
                      ChunkerParams const& params, std::shared_ptr<CoarseSet const> const& wanted,
                      DeltaEvents const& events) {
    std::uint64_t total = 0, before = 0;
    for (auto const& s : seeds) total += s.second;
    SeedChunks chunks;
    for (auto const& [seed, size] : seeds) {
        if (events.comparing) events.comparing(seed.name, before, total);
        SeedReadFn const on_read = [&, &name = seed.name](std::uint64_t read) {
            if (events.comparing) events.comparing(name, before + read, total);
        };
        try {
            chunks.add(seed.aligned ? library.own(seed.file, seed.name, size, params, *wanted, on_read)
                                    : library.chunks(seed.file, seed.name, size, params, wanted, on_read));
        } catch (std::runtime_error const&) {
        }
        before += size;
    }
    return chunks;
}

std::optional<DeltaResult> attempt(Network const& network, FileEntry const& entry, std::string const& url,
                                   std::string const& index_url, fs::path const& part, SeedLibrary& library,
                                   std::vector<std::pair<DeltaSeed, std::uint64_t>> const& seeds,
                                   DeltaEvents const& events, std::vector<char>& buffer, bool& touched_part) {
    ChunkIndexRef const& ref = *entry.chunk_index;
    std::string head_bytes;
    Travel travel(events);
    get_range(network, index_url, 0, ref.head_size, head_bytes, travel, buffer);
    if (sha256_hex(head_bytes) != ref.head_sha256) return std::nullopt;
    ChunkIndexHead const head = read_chunk_index_head(head_bytes);
    if (head.file_size != entry.size || head.index_size() != ref.size || head.head_size() != ref.head_size)
        return std::nullopt;

    auto const wanted = std::make_shared<CoarseSet const>(head);
    SeedChunks const chunks = read_seeds(
        library, seeds_worth_reading(library, seeds, head.params, *wanted, head.file_size), head.params, wanted, events);
    if (chunks.empty()) return std::nullopt;
    DeltaPlan const plan = make_delta_plan(
        head, chunks,
        [&](std::vector<ByteRange> const& ranges) { return fetch_ranges(network, index_url, ranges, travel); });
    if (static_cast<double>(plan.fetch_bytes) >= delta_most_of_file * static_cast<double>(entry.size))
        return std::nullopt;
    if (events.planned) events.planned(travel.total() + plan.fetch_bytes);

    Assembler assembler(network, url, part, chunks, travel);
    struct Touched {
        Assembler const& assembler;
        bool& touched;
        ~Touched() { touched = assembler.touched_part; }
    } const note{assembler, touched_part};
    std::string const sha256 = assembler.run(plan);
    if (sha256 != entry.sha256) return std::nullopt;
    return DeltaResult{sha256, entry.size};
}

}  // namespace

std::optional<DeltaResult> fetch_by_delta(HttpSession& http, FileEntry const& entry, std::string const& url,
                                          std::string const& index_url, fs::path const& part, SeedLibrary& library,
                                          std::vector<DeltaSeed> const& seeds, DeltaEvents const& events,
                                          std::vector<char>& buffer, DownloadCancel const* cancel) {
    // A head larger than any real file needs (about 16 bytes per 150 KiB) is not fetched
    // into memory: the manifest may come from a server that is not the operator's.
    if (!entry.chunk_index || entry.chunk_index->head_size > max_index_head) return std::nullopt;
    std::vector<std::pair<DeltaSeed, std::uint64_t>> const usable = present(seeds);
    if (usable.empty()) return std::nullopt;
    std::optional<DeltaResult> result;
    bool touched_part = false;
    try {
        result = attempt(Network{http, cancel}, entry, url, index_url, part, library, usable, events, buffer,
                         touched_part);
    } catch (HttpCancelled const&) {
        throw;  // the stage is ending: not a reason to fetch the whole file
    } catch (std::exception const&) {
        // Whatever went wrong (ranges refused or cut short, a seed that changed, a bad
        // index, a failed write), the whole file is still there to fetch.
    }
    // A part this never wrote to may be one a whole transfer can still continue.
    if (!result && touched_part) remove_file(part);
    return result;
}

}  // namespace korvel
