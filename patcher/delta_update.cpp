#include "patcher/delta_update.h"

#include "core/chunk_index.h"
#include "core/sha256.h"
#include "patcher/delta_plan.h"
#include "patcher/request_cost.h"
#include "patcher/seed_library.h"
#include "platform/files.h"
#include "platform/open_file.h"

#include <algorithm>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
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

// Where range requests go: the run's session and range slots, and the stage's cancel
// that ends them all.
struct Network {
    HttpSession& http;
    RangeSlots& slots;
    DownloadCancel const* cancel;
};
// The file (or its index) on each host, and the host its next range starts on: where
// the last range that moved went.
struct Mirrored {
    std::vector<std::string> const& urls;
    std::atomic<std::size_t>& host;
};

// Fetched ranges of one file held in memory, waiting for their turn in the part.
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

double seconds_between(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Called with each range's position in the list and its bytes, once they have all come.
using RangeArrivedFn = std::function<void(std::size_t, std::string&&)>;

// Fetches the ranges of the file, timed for the run's RequestCost: all in one request
// where the server answers several ranges at once (see RangeSlots::joins_ranges), else
// one request each. A failed request is asked again as long as events.retry says (an
// overloaded server, a broken line), on the host it names, for the ranges that have not
// arrived whole: the plan stays. A single range not served as asked is not retried;
// several are asked for again one by one.
void get_ranges(Network const& network, Mirrored const& where, std::span<ByteRange const> ranges, Travel& travel,
                RangeArrivedFn const& arrived) {
    using Clock = std::chrono::steady_clock;
    TransferTries tries{where.host.load()};
    std::vector<char> buffer;
    std::string bytes;  // of the range arriving
    for (std::size_t done = 0; done < ranges.size();) {
        std::string const& url = where.urls.at(tries.host);
        std::span<ByteRange const> const asked =
            ranges.subspan(done, network.slots.joins_ranges(url) ? ranges.size() - done : 1);
        std::uint64_t length = 0;
        for (ByteRange const& r : asked) length += r.length;
        std::size_t const before = done;
        bytes.clear();
        try {
            Clock::time_point const sent = Clock::now();
            std::optional<Clock::time_point> first_byte;
            http_get_ranges(
                network.http, url, asked,
                [&](std::size_t, char const* data, std::size_t size) {
                    if (!first_byte) first_byte = Clock::now();
                    travel.add(size);
                    // Each range's bytes come in order, and the next range only after them.
                    while (size > 0) {
                        std::size_t const take =
                            static_cast<std::size_t>(std::min<std::uint64_t>(size, ranges[done].length - bytes.size()));
                        if (bytes.empty()) bytes.reserve(ranges[done].length);
                        bytes.append(data, take);
                        data += take;
                        size -= take;
                        if (bytes.size() == ranges[done].length) {
                            arrived(done++, std::move(bytes));
                            bytes = std::string();
                        }
                    }
                },
                buffer, network.cancel);
            Clock::time_point const ended = Clock::now();
            network.slots.measured({seconds_between(sent, first_byte.value_or(ended)),
                                    seconds_between(first_byte.value_or(ended), ended), length});
        } catch (HttpRangeRefused const&) {
            if (asked.size() == 1) throw;
            network.slots.refuses_joined_ranges(url);
        } catch (...) {
            DeltaEvents const& events = travel.events();
            if (!events.retry || !events.retry(std::current_exception(), tries)) throw;
            where.host = tries.host;  // the file's later ranges start where this one went
        }
        if (done > before) tries = TransferTries{tries.host};  // failures count since the last progress
    }
}

std::string get_range(Network const& network, Mirrored const& where, ByteRange const& range, Travel& travel) {
    std::string out;
    get_ranges(network, where, std::span(&range, 1), travel, [&](std::size_t, std::string&& bytes) {
        out = std::move(bytes);
    });
    return out;
}

// The ranges of one file (or of its index), fetched in order on helper threads that
// each hold one of the run's range slots: as many as the requests' length makes worth
// it, when the run has slots free (at least one, waited for when the caller needs a
// range). A request asks for several ranges where the server answers them so (up to
// http_most_ranges and request_bytes, ranges that touch never together). At most
// batch_bytes are asked for ahead of the range the caller takes next (or one range,
// when it is longer).
class RangeFetch {
public:
    RangeFetch(Network const& network, Mirrored const& where, std::span<ByteRange const> ranges, Travel& travel)
        : network_(network), where_(where), ranges_(ranges), travel_(travel), out_(ranges.size()),
          arrived_(ranges.size(), false) {
        std::uint64_t total = 0;
        for (ByteRange const& r : ranges) total += r.length;
        // About as many requests as the ranges need when the server joins them.
        std::size_t requests = ranges.size();
        if (network.slots.joins_ranges(where.urls.at(where.host.load())))
            requests = std::min<std::size_t>(
                requests, std::max<std::uint64_t>({(ranges.size() + http_most_ranges - 1) / http_most_ranges,
                                                   (total + request_bytes - 1) / request_bytes, 1}));
        wanted_ = std::min(network.slots.cost().in_flight(total / std::max<std::size_t>(requests, 1)), requests);
        std::lock_guard const lock(mutex_);
        add_helpers();
    }
    // Ends the helpers once their requests have ended.
    ~RangeFetch() {
        {
            std::lock_guard const lock(mutex_);
            ending_ = true;
        }
        changed_.notify_all();
    }
    RangeFetch(RangeFetch const&) = delete;
    RangeFetch& operator=(RangeFetch const&) = delete;

    // Range `index`'s bytes once they have arrived, each range once. Throws the first
    // failure of any range.
    std::string take(std::size_t index);

private:
    // Ranges joined in one request hold at most this many bytes (or one longer range):
    // their bytes come in one stream, and more requests share the line better.
    static constexpr std::uint64_t request_bytes = 1 << 20;

    std::size_t next_request() const;  // under mutex_: how many ranges from next_ go in one
    void add_helpers();  // under mutex_
    void start_helper();  // under mutex_, with a slot taken for it
    void help();

    Network const& network_;
    Mirrored const& where_;
    std::span<ByteRange const> ranges_;
    Travel& travel_;
    std::size_t wanted_ = 0;  // helpers worth running
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> out_;
    std::vector<bool> arrived_;
    std::size_t next_ = 0;      // the next range to ask for
    std::uint64_t held_ = 0;    // bytes of ranges asked for and not taken yet
    std::size_t helping_ = 0;   // helpers running
    std::exception_ptr failure_;
    bool ending_ = false;
    std::vector<std::jthread> helpers_;  // last: joined before the rest goes
};

void RangeFetch::add_helpers() {
    while (helping_ < wanted_ && next_ < ranges_.size() && network_.slots.try_acquire()) start_helper();
}

// Under mutex_, with a slot taken for the helper: a thread that cannot be started gives
// its slot back, so that no file waits for a helper that never came.
void RangeFetch::start_helper() {
    ++helping_;
    try {
        helpers_.emplace_back([this] { help(); });
    } catch (...) {
        --helping_;
        network_.slots.release();
        throw;
    }
}

std::size_t RangeFetch::next_request() const {
    if (!network_.slots.joins_ranges(where_.urls.at(where_.host.load()))) return 1;
    std::size_t count = 1;
    std::uint64_t bytes = ranges_[next_].length;
    for (std::size_t k = next_ + 1; k < ranges_.size() && count < http_most_ranges; ++k, ++count) {
        ByteRange const& before = ranges_[k - 1];
        std::uint64_t const more = bytes + ranges_[k].length;
        if (before.first + before.length >= ranges_[k].first || more > request_bytes || held_ + more > batch_bytes)
            break;
        bytes = more;
    }
    return count;
}

void RangeFetch::help() {
    for (;;) {
        std::size_t first, count;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] {
                return ending_ || failure_ || next_ >= ranges_.size() || held_ == 0 ||
                       held_ + ranges_[next_].length <= batch_bytes;
            });
            if (ending_ || failure_ || next_ >= ranges_.size()) break;
            first = next_;
            count = next_request();
            next_ += count;
            for (std::size_t k = first; k < next_; ++k) held_ += ranges_[k].length;
        }
        try {
            get_ranges(network_, where_, ranges_.subspan(first, count), travel_,
                       [&](std::size_t k, std::string&& bytes) {
                           {
                               std::lock_guard const lock(mutex_);
                               out_[first + k] = std::move(bytes);
                               arrived_[first + k] = true;
                           }
                           changed_.notify_all();
                       });
        } catch (...) {
            std::lock_guard const lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
            break;
        }
    }
    {
        std::lock_guard const lock(mutex_);
        --helping_;
    }
    network_.slots.release();
    changed_.notify_all();
}

std::string RangeFetch::take(std::size_t index) {
    std::string bytes;
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (failure_) std::rethrow_exception(failure_);
            if (arrived_[index]) break;
            add_helpers();
            if (helping_ == 0 && next_ < ranges_.size()) {
                // Other files' helpers hold every slot: this one waits for a free one.
                lock.unlock();
                network_.slots.acquire();
                lock.lock();
                start_helper();
                continue;
            }
            changed_.wait(lock);
        }
        bytes = std::move(out_[index]);
        held_ -= ranges_[index].length;
    }
    changed_.notify_all();
    return bytes;
}

// Writes the part on a thread of its own, in the order it is given pieces, while the
// next pieces are read, checked and hashed: the disk and the processor work at once. At
// most write_ahead bytes wait to be written; their buffers come back to be filled again.
// A piece may also be a copy from another file, read when its turn comes: it holds no
// bytes while it waits. Every piece has a ticket, its place in the order.
class PartWriter {
public:
    explicit PartWriter(OpenFile& out) : out_(out), thread_([this] { run(); }) {}
    // Writes the bytes that wait (at most write_ahead: true bytes of the new file, which
    // a later try finds in the part) and drops the copies, then stops.
    ~PartWriter() {
        {
            std::lock_guard const lock(mutex_);
            ending_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    PartWriter(PartWriter const&) = delete;
    PartWriter& operator=(PartWriter const&) = delete;

    // A buffer to fill: one that has been written, or a new one.
    std::string spare() {
        std::lock_guard const lock(mutex_);
        if (spare_.empty()) return {};
        std::string buffer = std::move(spare_.back());
        spare_.pop_back();
        buffer.clear();
        return buffer;
    }
    // Queues `bytes` for `offset`, once the bytes waiting leave room. Throws the
    // writer's failure, if it had one.
    void write(std::uint64_t offset, std::string bytes) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return failure_ || waiting_ == 0 || waiting_ + bytes.size() <= write_ahead; });
        if (failure_) std::rethrow_exception(failure_);
        waiting_ += bytes.size();
        queue_.push_back({offset, std::move(bytes)});
        ++queued_;
        lock.unlock();
        changed_.notify_all();
    }
    // Queues a copy of `size` bytes at `from_offset` in `from` to `offset`, joined to the
    // copy queued last when it follows on from it in both files; returns its ticket. A
    // copy that finds fewer bytes fails the writer.
    std::uint64_t copy(OpenFile const& from, std::uint64_t from_offset, std::uint64_t offset, std::uint64_t size) {
        std::unique_lock lock(mutex_);
        if (!queue_.empty()) {
            Pending& last = queue_.back();
            if (last.from == &from && last.from_offset + last.size == from_offset && last.offset + last.size == offset &&
                last.size + size <= copy_piece) {
                last.size += size;
                return queued_;
            }
        }
        queue_.push_back({offset, {}, &from, from_offset, size});
        std::uint64_t const ticket = ++queued_;
        lock.unlock();
        changed_.notify_all();
        return ticket;
    }
    // Waits until the piece of `ticket` and those before it are written; throws the
    // writer's failure.
    void wait_written(std::uint64_t ticket) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return failure_ || written_ >= ticket; });
        if (failure_) std::rethrow_exception(failure_);
    }
    // Waits until every queued piece is written; throws the writer's failure.
    void finish() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return failure_ || written_ == queued_; });
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    static constexpr std::size_t write_ahead = 1 << 20;
    static constexpr std::uint64_t copy_piece = 256 << 10;  // a longer copy goes in steps of this

    struct Pending {
        std::uint64_t offset;
        std::string bytes;
        OpenFile const* from = nullptr;  // a copy of size bytes at from_offset
        std::uint64_t from_offset = 0;
        std::uint64_t size = 0;
    };

    void copy_now(Pending const& piece) {
        for (std::uint64_t done = 0; done < piece.size;) {
            std::size_t const step = static_cast<std::size_t>(std::min(piece.size - done, copy_piece));
            copied_.resize(step);
            if (piece.from->read_at(piece.from_offset + done, copied_.data(), step) != step)
                throw GiveUp("seed changed");
            out_.write_at(piece.offset + done, copied_.data(), step);
            done += step;
        }
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return ending_ || !queue_.empty(); });
            while (ending_ && !queue_.empty() && queue_.front().from) queue_.pop_front();
            if (queue_.empty() || failure_) return;
            Pending piece = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            std::exception_ptr failed;
            try {
                if (piece.from)
                    copy_now(piece);
                else
                    out_.write_at(piece.offset, piece.bytes.data(), piece.bytes.size());
            } catch (...) {
                failed = std::current_exception();
            }
            lock.lock();
            waiting_ -= piece.bytes.size();
            ++written_;
            if (failed) failure_ = failed;
            if (spare_.size() < 2 && piece.bytes.capacity() <= (1u << 20) + 1) spare_.push_back(std::move(piece.bytes));
            changed_.notify_all();
            if (failure_) return;
        }
    }

    OpenFile& out_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Pending> queue_;
    std::vector<std::string> spare_;
    std::vector<char> copied_;  // the writer's own: the bytes of a copy on their way
    std::size_t waiting_ = 0;
    std::uint64_t queued_ = 0;   // pieces ever queued: the last one's ticket
    std::uint64_t written_ = 0;  // pieces written, in the order queued
    std::exception_ptr failure_;
    bool ending_ = false;
    std::thread thread_;  // last: started once the rest is ready
};

// The coarse chunks of the new file copied into the part while the seeds are read,
// before there is a plan: the disk writes them while the processor cuts the rest of the
// seeds, instead of after it. Each place of the new file is copied once, from the first
// seed chunk cut with its hash and size. The assembly reads them back from the part to
// check and hash what the part holds, and writes only the rest. Used on the reading
// thread only.
class EarlyCopies {
public:
    // `head` outlives this.
    EarlyCopies(ChunkIndexHead const& head, PartWriter& writer) : coarse_(head.coarse), writer_(writer) {
        places_.reserve(coarse_.size());
        std::uint64_t offset = 0;
        for (CoarseEntry const& c : coarse_) {
            places_.push_back({offset});
            offset += c.size;
        }
        by_chunk_.resize(places_.size());
        for (std::uint32_t k = 0; k < by_chunk_.size(); ++k) by_chunk_[k] = k;
        std::sort(by_chunk_.begin(), by_chunk_.end(), [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
    }

    // A handle on the seed `file` for its copies, open until the part is done.
    OpenFile const& open(fs::path const& file) {
        return *seeds_.emplace_back(std::make_unique<OpenFile const>(file, OpenFile::Access::read));
    }
    // A coarse chunk just cut in `seed`: queued for every place of the new file that has
    // it and no copy yet. Never throws: a place left out is copied by the assembly.
    void cut(OpenFile const& seed, SeedTable::Coarse const& chunk) noexcept try {
        std::pair const wanted(chunk.hash, chunk.size);
        auto it = std::lower_bound(by_chunk_.begin(), by_chunk_.end(), wanted,
                                   [&](std::uint32_t k, auto const& w) { return key(k) < w; });
        for (; it != by_chunk_.end() && key(*it) == wanted; ++it)
            if (Place& place = places_[*it]; place.ticket == 0)
                place.ticket = writer_.copy(seed, chunk.offset, place.offset, chunk.size);
    } catch (...) {
    }
    // The ticket of the copy of the coarse chunk at `offset` of `size` bytes, or 0.
    std::uint64_t ticket(std::uint64_t offset, std::uint32_t size) const {
        auto const it = std::lower_bound(places_.begin(), places_.end(), offset,
                                         [](Place const& p, std::uint64_t at) { return p.offset < at; });
        if (it == places_.end() || it->offset != offset || coarse_[it - places_.begin()].size != size) return 0;
        return it->ticket;
    }

private:
    struct Place {
        std::uint64_t offset;
        std::uint64_t ticket = 0;
    };
    std::pair<std::uint64_t, std::uint32_t> key(std::uint32_t k) const { return {coarse_[k].hash, coarse_[k].size}; }

    std::vector<CoarseEntry> const& coarse_;  // the head's
    PartWriter& writer_;
    std::vector<Place> places_;            // the head's coarse chunks, in file order
    std::vector<std::uint32_t> by_chunk_;  // positions in places_ by hash and size
    std::vector<std::unique_ptr<OpenFile const>> seeds_;
};

// The part being written: its handle, the writer and the early copies into it.
class PartOutput {
public:
    explicit PartOutput(fs::path const& part) : file_(part, OpenFile::Access::read_write) {}

    PartWriter& writer() { return writer_; }
    EarlyCopies* early() { return early_ ? &*early_ : nullptr; }
    void copy_early(ChunkIndexHead const& head) { early_.emplace(head, writer_); }
    // Waits for the writer, then cuts the part to `size` bytes: a longer old part keeps
    // no tail.
    void finish(std::uint64_t size) {
        writer_.finish();
        file_.resize(size);
    }

private:
    OpenFile file_;
    std::optional<EarlyCopies> early_;  // before writer_: its seed handles outlive the copies
    PartWriter writer_{file_};
};

class Assembler {
public:
    Assembler(Network const& network, Mirrored const& where, fs::path const& part, PartOutput& output,
              SeedChunks const& seeds, Travel& travel)
        : network_(network), where_(where), part_(part), output_(output), seeds_(seeds), travel_(travel) {}

    std::string run(DeltaPlan const& plan);

private:
    // Where a copied piece's bytes are read: a seed, or the part itself for an early copy.
    struct Source {
        std::uint32_t file;  // a seed, or in_part
        std::uint64_t offset;
        std::uint64_t ticket;  // of the early copy
    };
    static constexpr std::uint32_t in_part = 1u << 16;
    static constexpr std::uint64_t checked_run = 256 << 10;

    Source source_of(Piece const& piece) const;
    std::size_t copy_run(std::vector<Piece> const& pieces, std::size_t first);
    void place_range(ByteRange const& range, std::size_t index);
    OpenFile const& input(std::uint32_t file);

    Network const& network_;
    Mirrored const& where_;
    fs::path const& part_;
    PartOutput& output_;
    SeedChunks const& seeds_;
    Travel& travel_;
    std::vector<std::unique_ptr<OpenFile const>> inputs_;  // by Source::file
    std::string checked_;  // kept for the next bytes that are only checked
    Sha256 hash_;
    std::optional<RangeFetch> fetch_;  // last: its requests end before the rest goes
};

std::string Assembler::run(DeltaPlan const& plan) {
    // The ranges travel while the seeds' chunks are copied.
    if (!plan.ranges.empty()) fetch_.emplace(network_, where_, plan.ranges, travel_);
    std::vector<Piece> const& pieces = plan.pieces;
    std::size_t range = 0;
    for (std::size_t i = 0; i < pieces.size();) {
        if (pieces[i].seed_chunk != no_seed_chunk) {
            i = copy_run(pieces, i);
            continue;
        }
        ByteRange const& r = plan.ranges.at(range);
        if (r.first != pieces[i].offset) throw std::logic_error("delta plan out of order");
        place_range(r, range++);
        while (i < pieces.size() && pieces[i].offset < r.first + r.length) ++i;
    }
    output_.finish(pieces.empty() ? 0 : pieces.back().offset + pieces.back().size);
    return to_hex(hash_.finalize());
}

Assembler::Source Assembler::source_of(Piece const& piece) const {
    if (EarlyCopies* const early = output_.early(); early && piece.coarse)
        if (std::uint64_t const ticket = early->ticket(piece.offset, piece.size)) return {in_part, piece.offset, ticket};
    return {piece.seed, seeds_.seed_offset(piece), 0};
}

// A read handle on a seed, or on the part (for an aligned seed or an early copy).
OpenFile const& Assembler::input(std::uint32_t file) {
    bool const part = file == in_part || seeds_.seed(static_cast<std::uint16_t>(file)).aligned();
    std::size_t const slot = part ? 0 : file + 1;
    if (inputs_.size() <= slot) inputs_.resize(slot + 1);
    if (!inputs_[slot])
        inputs_[slot] = std::make_unique<OpenFile const>(
            part ? part_ : seeds_.seed(static_cast<std::uint16_t>(file)).path(), OpenFile::Access::read);
    return *inputs_[slot];
}

// Copies the pieces from `first` on whose bytes follow one another in one file (up to
// 1 MiB, or one larger piece) with one read, checking every piece; returns the next
// piece. Early copies are read back from the part once written, and not written again;
// they go by at most checked_run bytes, the buffer that holds them being kept.
std::size_t Assembler::copy_run(std::vector<Piece> const& pieces, std::size_t first) {
    Source const start = source_of(pieces[first]);
    std::uint64_t const most = start.file == in_part ? checked_run : 1u << 20;
    std::uint64_t ticket = start.ticket;
    std::size_t end = first + 1;
    std::uint64_t length = pieces[first].size;
    for (; end < pieces.size() && pieces[end].seed_chunk != no_seed_chunk && length + pieces[end].size <= most;
         length += pieces[end++].size) {
        Source const next = source_of(pieces[end]);
        if (next.file != start.file || next.offset != start.offset + length) break;
        ticket = std::max(ticket, next.ticket);
    }
    PartWriter& writer = output_.writer();
    if (ticket != 0) writer.wait_written(ticket);
    // The part's own chunks already lie where they belong: their bytes are only checked.
    bool const placed = start.file == in_part || seeds_.seed(pieces[first].seed).aligned();
    std::string bytes = placed ? std::move(checked_) : writer.spare();
    bytes.resize(length);
    if (input(start.file).read_at(start.offset, bytes.data(), length) != length) throw GiveUp("seed changed");
    for (std::size_t k = first, at = 0; k < end; at += pieces[k++].size)
        if (!seeds_.holds(pieces[k], bytes.data() + at)) throw GiveUp("seed changed");
    hash_.update(bytes.data(), length);
    if (placed)
        checked_ = std::move(bytes);
    else
        writer.write(pieces[first].offset, std::move(bytes));
    return end;
}

// Writes range `index` into the part once it has arrived.
void Assembler::place_range(ByteRange const& range, std::size_t index) {
    std::string bytes = fetch_->take(index);
    hash_.update(bytes.data(), bytes.size());
    output_.writer().write(range.first, std::move(bytes));
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
// they are read, and telling `early` (when given) of the coarse chunks cut. A seed that
// cannot be read is left out.
SeedChunks read_seeds(SeedLibrary& library, std::vector<std::pair<DeltaSeed, std::uint64_t>> const& seeds,
                      ChunkerParams const& params, std::shared_ptr<CoarseSet const> const& wanted,
                      DeltaEvents const& events, EarlyCopies* early) {
    std::uint64_t total = 0, before = 0;
    for (auto const& s : seeds) total += s.second;
    SeedChunks chunks;
    for (auto const& [seed, size] : seeds) {
        if (events.comparing) events.comparing(seed.name, before, total);
        SeedReadFn const on_read = [&, &name = seed.name](std::uint64_t read) {
            if (events.comparing) events.comparing(name, before + read, total);
        };
        try {
            SeedTable::CutFn cut;
            if (early && !seed.aligned)
                cut = [early, &from = early->open(seed.file)](SeedTable::Coarse const& c) { early->cut(from, c); };
            chunks.add(seed.aligned ? library.own(seed.file, seed.name, size, params, *wanted, on_read)
                                    : library.chunks(seed.file, seed.name, size, params, wanted, on_read, cut));
        } catch (std::runtime_error const&) {
        }
        before += size;
    }
    return chunks;
}

std::optional<DeltaResult> attempt(Network const& network, FileEntry const& entry, DeltaSources const& sources,
                                   fs::path const& part, SeedLibrary& library,
                                   std::vector<std::pair<DeltaSeed, std::uint64_t>> const& seeds,
                                   DeltaEvents const& events, bool& touched_part) {
    ChunkIndexRef const& ref = *entry.chunk_index;
    std::atomic<std::size_t> host{sources.host};
    Mirrored const index{sources.index_urls, host}, file{sources.urls, host};
    Travel travel(events);
    std::string const head_bytes = get_range(network, index, {0, ref.head_size}, travel);
    if (sha256_hex(head_bytes) != ref.head_sha256) return std::nullopt;
    ChunkIndexHead const head = read_chunk_index_head(head_bytes);
    if (head.file_size != entry.size || head.index_size() != ref.size || head.head_size() != ref.head_size)
        return std::nullopt;

    auto const wanted = std::make_shared<CoarseSet const>(head);
    std::vector<std::pair<DeltaSeed, std::uint64_t>> const chosen =
        seeds_worth_reading(library, seeds, head.params, *wanted, head.file_size);
    if (chosen.empty()) return std::nullopt;
    // From here on a failure leaves a part worth nothing. Without a part to read as a
    // seed, the chunks the new file has are copied into it as the seeds are read, when
    // another processor can write them while this one cuts: on one alone, the writing
    // would only slow the cutting down.
    std::optional<PartOutput> output;
    auto const open_part = [&] {
        touched_part = true;
        output.emplace(part);
    };
    bool const early = std::thread::hardware_concurrency() > 1 &&
                       std::none_of(chosen.begin(), chosen.end(), [](auto const& s) { return s.first.aligned; });
    if (early) {
        open_part();
        output->copy_early(head);
    }
    SeedChunks const chunks =
        read_seeds(library, chosen, head.params, wanted, events, output ? output->early() : nullptr);
    if (chunks.empty()) return std::nullopt;
    PlanLimits limits;
    limits.cost = network.slots.cost();
    DeltaPlan const plan = make_delta_plan(
        head, chunks,
        [&](std::vector<ByteRange> const& ranges) {
            RangeFetch fetch(network, index, ranges, travel);
            std::vector<std::string> out;
            for (std::size_t i = 0; i < ranges.size(); ++i) out.push_back(fetch.take(i));
            return out;
        },
        limits);
    if (static_cast<double>(plan.fetch_bytes) >= delta_most_of_file * static_cast<double>(entry.size))
        return std::nullopt;
    if (events.planned) events.planned(travel.total() + plan.fetch_bytes);

    if (!output) open_part();
    std::string const sha256 = Assembler(network, file, part, *output, chunks, travel).run(plan);
    if (sha256 != entry.sha256) return std::nullopt;
    return DeltaResult{sha256, entry.size};
}

}  // namespace

std::optional<DeltaResult> fetch_by_delta(HttpSession& http, FileEntry const& entry, DeltaSources const& sources,
                                          fs::path const& part, SeedLibrary& library,
                                          std::vector<DeltaSeed> const& seeds, DeltaEvents const& events,
                                          DownloadCancel const* cancel) {
    // A head larger than any real file needs (about 16 bytes per 150 KiB) is not fetched
    // into memory: the manifest may come from a server that is not the operator's.
    if (!entry.chunk_index || entry.chunk_index->head_size > max_index_head) return std::nullopt;
    std::vector<std::pair<DeltaSeed, std::uint64_t>> const usable = present(seeds);
    if (usable.empty()) return std::nullopt;
    std::optional<DeltaResult> result;
    bool touched_part = false;
    try {
        result = attempt(Network{http, sources.slots, cancel}, entry, sources, part, library, usable, events,
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
