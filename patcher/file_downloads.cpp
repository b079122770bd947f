#include "patcher/file_downloads.h"

#include "core/sha256.h"
#include "patcher/delta_update.h"
#include "patcher/download_progress.h"
#include "patcher/part_transfer.h"
#include "patcher/request_cost.h"
#include "patcher/seed_library.h"
#include "patcher/patch_records.h"
#include "patcher/transfer_retry.h"
#include "platform/file_error.h"
#include "platform/files.h"
#include "platform/sha256.h"
#include "platform/text.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_set>

namespace fs = std::filesystem;

namespace korvel {

namespace {

constexpr std::size_t no_item = static_cast<std::size_t>(-1);

// The time the cache keeps for a placed file, read after the move: a time read through
// the download's own handle may still change when the handle closes (on FAT it is only
// set then), and the next quick check would hash the whole file again. 0, which matches
// no file, when it cannot be read.
std::uint64_t placed_time(fs::path const& file) {
    try {
        return file_mtime(file);
    } catch (std::exception const&) {
        return 0;
    }
}

// Deleted files smaller than this are not read as seeds: no chunk index is made for
// files that small, so no renamed pack is one.
constexpr std::uint64_t delta_seed_from = 1 << 20;

// Each folder of the run is made once: asking about a folder that is already there
// costs several kernel round trips per file, which add up over thousands of files.
class FolderMaker {
public:
    void make_parent(fs::path const& file) {
        std::wstring const key = file.parent_path().native();
        {
            std::lock_guard const lock(mutex_);
            if (made_.contains(key)) return;
        }
        ensure_parent_dir(file);
        std::lock_guard const lock(mutex_);
        made_.insert(key);
    }

private:
    std::mutex mutex_;
    std::unordered_set<std::wstring> made_;
};

// What one worker has in hand.
struct Slot {
    std::size_t item = no_item;
    int attempt = 1;
    std::optional<WallTime> waiting_until{};  // the next attempt's time, while it waits for it
    bool waiting_busy = false;                // ... because a server asked for the wait
    std::uint64_t bytes = 0;    // in the item's part now
    std::uint64_t counted = 0;  // of those, already added to the stage's received bytes
    std::uint64_t travel = 0;   // bytes the item sends: its size, or what a delta plans
    std::string comparing;      // the seed being read for a delta, UTF-8; empty when none
    std::int32_t compare_percent = 0;
};

class DownloadStage {
public:
    DownloadStage(std::vector<DownloadItem> const& items, PatchConfig const& config, DownloadSources const& sources,
                  std::vector<std::string> const& deleted, HttpSession& http, HashCache& cache,
                  ProgressReporter const& reporter)
        : items_(items), game_dir_(config.game_dir), bases_(sources.base_urls), policy_(sources.policy),
          deleted_(deleted), http_(http), records_(part_records_folder(config), config.game_dir), cache_(cache),
          reporter_(reporter), slots_(std::min(parallel_downloads, items.size())) {
        for (DownloadItem const& item : items_) bytes_total_ += item.entry->size;
        for (std::string const& base : bases_) hosts_.push_back(host_of(base));
        run_rate_.restart(std::chrono::steady_clock::now(), 0);
        expect_seeds();
    }

    void run();
    SeedLibrary const& seeds() const { return seeds_; }

private:
    void work(std::size_t slot);
    void fetch(std::size_t slot, std::size_t index, FileEntry const& item, std::vector<char>& buffer);
    std::string url_on(std::size_t host, FileEntry const& item) const { return build_file_url(bases_[host], item.path); }
    bool fetch_delta(std::size_t slot, std::size_t index, std::size_t host, fs::path const& local_path);
    std::vector<DeltaSeed> seeds_for(FileEntry const& item, fs::path const& local_path) const;
    void expect_seeds();
    void set_travel(std::size_t slot, std::uint64_t travel);
    void on_bytes(std::size_t slot, std::uint64_t done);
    bool too_slow(std::size_t slot, std::size_t host);
    // false when the stage is stopping
    bool wait_until(std::size_t slot, WallTime due, bool busy, std::optional<std::uint64_t> probe_ends = {});
    std::optional<HostTurn> turn_at(std::size_t slot, std::size_t host);  // nothing when the stage is stopping
    void probe_ended();
    void stop_and_join(std::vector<std::thread>& workers);
    void stop_transfers();  // under mutex_
    void report_finished(std::vector<std::size_t> const& finished);
    void report_in_flight(std::vector<Slot> const& slots);
    void set_bytes(std::uint64_t bytes_done, std::uint64_t bytes_total, std::uint64_t received);

    std::vector<DownloadItem> const& items_;
    fs::path const& game_dir_;
    std::vector<std::string> const& bases_;  // the manifest's base URL and its mirrors
    std::vector<std::string> hosts_;         // the policy's name of each
    TransferPolicy& policy_;
    // Where each file starts: a number of this run plus the file's, so that players
    // spread over the mirrors and one player's files over them too.
    std::size_t const spread_ = static_cast<std::size_t>(random_fraction() * 1e9);
    std::vector<std::string> const& deleted_;  // seeds for a file new at its path
    HttpSession& http_;
    PartRecords records_;
    HashCache& cache_;
    ProgressReporter const& reporter_;
    FolderMaker folders_;
    SeedLibrary seeds_;
    RangeSlots range_slots_;  // every delta's range requests in flight
    std::vector<std::vector<DeltaSeed>> delta_seeds_;  // by item: the seeds its delta may read
    DownloadClock const clock_;

    // Shared with the workers, under mutex_.
    std::mutex mutex_;
    std::uint64_t bytes_total_ = 0;  // bytes that travel: a delta's plan replaces its file's size
    std::condition_variable changed_;   // workers -> the reporting thread
    std::condition_variable stopping_;  // the stage, or a busy host's probe that ended -> pausing workers
    std::uint64_t probe_ends_ = 0;      // probes of busy hosts answered or given back
    std::vector<Slot> slots_;
    DownloadCancel cancel_;  // ends every transfer in flight at once
    std::size_t next_ = 0;
    std::size_t running_ = 0;
    std::vector<std::size_t> finished_;  // placed, not reported yet
    std::uint64_t finished_bytes_ = 0;
    std::uint64_t received_ = 0;  // body bytes that arrived in this stage
    // Rates over the last few seconds, to leave a host far slower than the others.
    SlowHostSettings const slow_{};
    RateWindow run_rate_{slow_.window};  // of received_
    struct Pace {
        RateWindow attempt;         // of the slot's attempt now
        SteadyTime last_bytes{};    // when the slot last received bytes, whatever its file
    };
    std::vector<Pace> paces_ = std::vector<Pace>(slots_.size(), Pace{RateWindow(slow_.window)});
    bool dirty_ = false;
    bool stop_ = false;
    std::exception_ptr failure_;
};

void DownloadStage::run() {
    if (slots_.empty()) {
        records_.remove_all();
        return;
    }
    std::vector<std::thread> workers;
    try {
        running_ = slots_.size();
        for (std::size_t slot = 0; slot < slots_.size(); ++slot) workers.emplace_back([this, slot] { work(slot); });
        for (;;) {
            std::vector<std::size_t> finished;
            std::vector<Slot> slots;
            std::uint64_t bytes_done = 0;
            std::uint64_t bytes_total = 0;
            std::uint64_t received = 0;
            bool over = false;
            {
                std::unique_lock lock(mutex_);
                // A wait counts down on the screen: the loop wakes at least each second
                // while a transfer waits.
                bool const counting = std::any_of(slots_.begin(), slots_.end(),
                                                  [](Slot const& s) { return s.waiting_until.has_value(); });
                if (counting)
                    changed_.wait_for(lock, std::chrono::milliseconds(250), [this] { return dirty_; });
                else
                    changed_.wait(lock, [this] { return dirty_; });
                dirty_ = false;
                finished.swap(finished_);
                slots = slots_;
                bytes_done = finished_bytes_;
                for (Slot const& s : slots_)
                    if (s.item != no_item) bytes_done += s.bytes;
                received = received_;
                bytes_total = bytes_total_;
                over = running_ == 0;
            }
            set_bytes(bytes_done, bytes_total, received);
            report_finished(finished);
            report_in_flight(slots);
            if (over) break;
        }
    } catch (...) {
        // A worker that could not start, or a progress callback that threw: nothing may
        // go on downloading behind the caller's back.
        stop_and_join(workers);
        throw;
    }
    for (std::thread& worker : workers) worker.join();
    if (failure_) std::rethrow_exception(failure_);
    records_.remove_all();
}

// Every transfer still in flight ends now: a stalled one would otherwise hold the
// stage's end back until its receive time-out.
void DownloadStage::stop_transfers() {
    stop_ = true;
    cancel_.cancel();
}

void DownloadStage::stop_and_join(std::vector<std::thread>& workers) {
    {
        std::lock_guard const lock(mutex_);
        stop_transfers();
    }
    stopping_.notify_all();
    for (std::thread& worker : workers)
        if (worker.joinable()) worker.join();
}

void DownloadStage::work(std::size_t slot) {
    std::vector<char> buffer;  // the transfer's one 1 MiB buffer, kept from file to file
    try {
        for (;;) {
            std::size_t index;
            {
                std::lock_guard const lock(mutex_);
                if (stop_ || next_ >= items_.size()) break;
                index = next_++;
                slots_[slot] = Slot{index, 1, std::nullopt, false, 0, 0, items_[index].entry->size, {}, 0};
            }
            fetch(slot, index, *items_[index].entry, buffer);
            std::lock_guard const lock(mutex_);
            slots_[slot].item = no_item;
            finished_.push_back(index);
            finished_bytes_ += slots_[slot].travel;
            dirty_ = true;
            changed_.notify_one();
        }
    } catch (TransferStopped const&) {
        // another file ended the stage
    } catch (HttpCancelled const&) {
        // another file ended the stage while this one's delta was on the network
    } catch (...) {
        std::lock_guard const lock(mutex_);
        if (!failure_) failure_ = std::current_exception();
        stop_transfers();
        stopping_.notify_all();
    }
    std::lock_guard const lock(mutex_);
    slots_[slot].item = no_item;
    --running_;
    dirty_ = true;
    changed_.notify_one();
}

// Attempts as the run's transfer policy says: on the host it chooses for this file,
// moving to another or waiting between attempts, until the file is placed or the policy
// gives up (the last failure's text is thrown), or TransferStopped when another file
// ended the stage first. A cause that another attempt cannot mend (a folder that cannot
// be written, a full disk) ends the item at once. A download that passed its check but
// could not replace its target is kept, and later attempts only try the replacement again.
void DownloadStage::fetch(std::size_t slot, std::size_t index, FileEntry const& item, std::vector<char>& buffer) {
    fs::path const local_path = game_dir_ / utf8_to_wide(item.path);
    fs::path const part = part_path_for(local_path);
    TransferTries tries{policy_.choose(hosts_, spread_ + index, wall_now()), 0, download_attempts};
    if (item.chunk_index && fetch_delta(slot, index, tries.host, local_path)) return;
    // The manifest's size is the truth for a game file, 0 included: the server may send
    // no byte more, however long its body claims or turns out to be.
    PartTransfer transfer({item.path, url_on(tries.host, item), part, item.size, item.sha256, item.size}, records_);
    std::optional<PartTransfer::Fetched> verified;
    for (int attempt = 1;; ++attempt) {
        std::optional<HostTurn> turn = turn_at(slot, tries.host);
        if (!turn) {
            if (verified) transfer.discard();
            throw TransferStopped{};
        }
        std::uint64_t before;
        {
            std::lock_guard const lock(mutex_);
            Slot& s = slots_[slot];
            s.attempt = attempt;
            before = s.bytes = s.counted = verified ? verified->size : transfer.kept_bytes();
            paces_[slot].attempt.restart(std::chrono::steady_clock::now(), before);
            dirty_ = true;
        }
        changed_.notify_one();  // the attempt's number is shown at once, bytes or not
        try {
            if (!verified) {
                folders_.make_parent(local_path);
                PartTransfer::Fetched const fetched = transfer.attempt(
                    http_,
                    [&](std::uint64_t done, std::uint64_t) {
                        turn->answered();
                        on_bytes(slot, done);
                        if (too_slow(slot, tries.host)) throw HostTooSlow(url_on(tries.host, item));
                    },
                    &buffer, &cancel_);
                turn->answered();
                if (fetched.sha256 != item.sha256) {
                    transfer.discard();
                    throw std::runtime_error("SHA-256 eltérés: " + item.path);
                }
                verified = fetched;
            }
            place_download(part, local_path);
            transfer.placed();
            std::lock_guard const lock(mutex_);
            cache_[item.path] = CacheEntry{verified->size, placed_time(local_path), verified->sha256};
            return;
        } catch (TransferStopped const&) {
            if (verified) transfer.discard();
            throw;
        } catch (HttpCancelled const&) {
            if (verified) transfer.discard();
            throw;
        } catch (std::exception const&) {
            std::exception_ptr const caught = std::current_exception();
            WallTime const now = wall_now();
            TransferFailure const failure = classify_failure(caught, now);
            bool progressed;
            {
                std::lock_guard const lock(mutex_);
                progressed = slots_[slot].bytes > before;
            }
            NextStep const next = policy_.failed(tries, hosts_, failure, progressed, now, random_fraction());
            turn->release();  // after failed(): a busy host stays closed until its new Retry-After
            if (next.give_up) {
                if (verified) transfer.discard();
                if (next.text == failure.text) std::rethrow_exception(caught);
                throw std::runtime_error(next.text);
            }
            transfer.move_to(url_on(next.host, item));
            if (!wait_until(slot, next.at, next.busy)) {
                if (verified) transfer.discard();
                throw TransferStopped{};
            }
        }
    }
}

void DownloadStage::on_bytes(std::size_t slot, std::uint64_t done) {
    bool stop;
    {
        std::lock_guard const lock(mutex_);
        stop = stop_;
        Slot& s = slots_[slot];
        s.bytes = done;
        if (done > s.counted) {
            received_ += done - s.counted;
            s.counted = done;
            SteadyTime const now = std::chrono::steady_clock::now();
            run_rate_.add(now, received_);
            paces_[slot].last_bytes = now;
        }
        dirty_ = true;
    }
    changed_.notify_one();
    if (stop) throw TransferStopped{};
}

// Whether the whole-file transfer in `slot`, on hosts_[host], should leave that host for
// receiving far less than the run's other transfers (leave_slow_host). Only the transfer
// itself can tell, on its own thread, as its bytes arrive: a slow host still sends them.
bool DownloadStage::too_slow(std::size_t slot, std::size_t host) {
    SteadyTime const now = std::chrono::steady_clock::now();
    TransferPace pace;
    {
        std::lock_guard const lock(mutex_);
        RateWindow& mine = paces_[slot].attempt;
        mine.add(now, slots_[slot].bytes);
        pace.measured = mine.measured(now);
        pace.rate = mine.rate(now);
        pace.others = std::max(0.0, run_rate_.rate(now) - pace.rate);
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            if (i == slot) continue;
            Slot const& s = slots_[i];
            if (s.item != no_item && !s.waiting_until && s.comparing.empty()) ++pace.others_live;
            if (paces_[i].last_bytes > now - slow_.window) ++pace.others_seen;
        }
    }
    // Asking the policy for another host only when that is all that could keep it here.
    pace.other_host = true;
    if (!leave_slow_host(pace, slow_)) return false;
    pace.other_host = policy_.another_ready(hosts_, host, wall_now());
    return leave_slow_host(pace, slow_);
}

// The transfer's turn at hosts_[host]: after the host's Retry-After and, while another
// transfer probes the busy host, until that probe is answered or given back. Nothing when
// the stage stops first.
std::optional<HostTurn> DownloadStage::turn_at(std::size_t slot, std::size_t host) {
    for (;;) {
        if (!wait_until(slot, policy_.ready_at(hosts_[host], wall_now()), true)) return std::nullopt;
        std::uint64_t seen;
        {
            std::lock_guard const lock(mutex_);
            seen = probe_ends_;
        }
        HostTurn turn = policy_.take_turn(hosts_[host], wall_now(), [this] { probe_ended(); });
        if (turn.granted()) return turn;
        // A new Retry-After came in between: wait for it; else for the probe out now.
        if (policy_.ready_at(hosts_[host], wall_now()) <= wall_now() &&
            !wait_until(slot, wall_now() + policy_.settings().first_step, true, seen))
            return std::nullopt;
    }
}

void DownloadStage::probe_ended() {
    {
        std::lock_guard const lock(mutex_);
        ++probe_ends_;
    }
    stopping_.notify_all();
}

// Waits for the policy's time (shown as a countdown), or with `probe_ends`, until a probe
// ends after that count (the countdown shows `due` meanwhile and then stays at zero,
// saying the server is busy), or until the stage stops.
bool DownloadStage::wait_until(std::size_t slot, WallTime due, bool busy, std::optional<std::uint64_t> probe_ends) {
    WallTime const now = wall_now();
    if (due <= now && !probe_ends) return true;
    auto const deadline = std::chrono::steady_clock::now() + (due - now);
    std::unique_lock lock(mutex_);
    slots_[slot].waiting_until = due;
    slots_[slot].waiting_busy = busy;
    dirty_ = true;
    changed_.notify_one();
    bool const stopping =
        probe_ends ? (stopping_.wait(lock, [&] { return stop_ || probe_ends_ != *probe_ends; }), stop_)
                   : stopping_.wait_until(lock, deadline, [this] { return stop_; });
    slots_[slot].waiting_until.reset();
    dirty_ = true;
    changed_.notify_one();
    return !stopping;
}

void DownloadStage::set_bytes(std::uint64_t bytes_done, std::uint64_t bytes_total, std::uint64_t received) {
    PatchProgress& progress = reporter_.progress;
    progress.bytes_done = bytes_done;
    progress.bytes_total = bytes_total;
    apply_rate(progress, clock_, received);
}

void DownloadStage::report_finished(std::vector<std::size_t> const& finished) {
    PatchProgress& progress = reporter_.progress;
    for (std::size_t index : finished) {
        ++progress.files_done;
        // By bytes; a stage of empty files only can go by files.
        progress.percent = progress.bytes_total != 0
                               ? percent_from(static_cast<double>(progress.bytes_done) * 100.0 /
                                              static_cast<double>(progress.bytes_total))
                               : static_cast<std::int32_t>(progress.files_done * 100 / items_.size());
        progress.current_file = utf8_or_bytes_to_wide(items_[index].entry->path);
        progress.detail = L"Elkészült: " + progress.current_file;
        reporter_.report();
    }
}

void DownloadStage::report_in_flight(std::vector<Slot> const& slots) {
    Slot const* largest = nullptr;
    for (Slot const& s : slots)
        if (s.item != no_item && (!largest || items_[s.item].entry->size > items_[largest->item].entry->size))
            largest = &s;
    if (!largest) return;
    PatchProgress& progress = reporter_.progress;
    if (!largest->comparing.empty()) {
        // Reading a seed sends nothing: the percent shows how far the comparison got.
        progress.percent = largest->compare_percent;
        progress.current_file = utf8_or_bytes_to_wide(items_[largest->item].entry->path);
        progress.detail = L"Meglévő fájl összevetése: " + utf8_or_bytes_to_wide(largest->comparing);
        reporter_.report();
        return;
    }
    if (progress.bytes_total != 0)
        progress.percent = percent_from(static_cast<double>(progress.bytes_done) * 100.0 /
                                        static_cast<double>(progress.bytes_total));
    progress.current_file = utf8_or_bytes_to_wide(items_[largest->item].entry->path);
    if (largest->waiting_until)
        progress.detail = waiting_text(largest->waiting_busy, seconds_until(*largest->waiting_until, wall_now()));
    else
        progress.detail = L"Jelenlegi fájl: " + progress.current_file + L"  (próba " +
                          std::to_wstring(largest->attempt) + L")";
    reporter_.report();
}

// ---- Delta updates: a file with a chunk index is first rebuilt from local seeds ----

// Where the file's unchanged chunks may already lie: the old file, the part of an
// interrupted transfer (its chunks only where they already are), and, for a file new
// at its path, the large files this manifest deletes (a pack renamed).
std::vector<DeltaSeed> DownloadStage::seeds_for(FileEntry const& item, fs::path const& local_path) const {
    std::vector<DeltaSeed> seeds;
    bool const old_there = is_regular_file_at(local_path);
    if (old_there) seeds.push_back({local_path, item.path, false});
    seeds.push_back({part_path_for(local_path), item.path + ".korvel.part", true});
    if (old_there) return seeds;
    for (std::string const& path : deleted_) {
        try {
            fs::path const file = game_dir_ / utf8_to_wide(path);
            if (is_regular_file_at(file) && korvel::file_size(file) >= delta_seed_from)
                seeds.push_back({file, path, false});
        } catch (std::exception const&) {
        }
    }
    return seeds;
}

// Each file's seeds are found before any is read, and every shared one is counted once
// per file that may read it: the library drops a seed's table after the last of them.
void DownloadStage::expect_seeds() {
    delta_seeds_.resize(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) {
        FileEntry const& item = *items_[i].entry;
        if (!item.chunk_index) continue;
        delta_seeds_[i] = seeds_for(item, game_dir_ / utf8_to_wide(item.path));
        for (DeltaSeed const& seed : delta_seeds_[i])
            if (!seed.aligned) seeds_.expect(seed.file);
    }
}

void DownloadStage::set_travel(std::size_t slot, std::uint64_t travel) {
    std::lock_guard const lock(mutex_);
    Slot& s = slots_[slot];
    bytes_total_ = bytes_total_ - s.travel + travel;
    s.travel = travel;
    dirty_ = true;
}

// True when the file was rebuilt and placed; false to fetch it whole.
bool DownloadStage::fetch_delta(std::size_t slot, std::size_t index, std::size_t host,
                                fs::path const& local_path) {
    FileEntry const& item = *items_[index].entry;
    std::vector<DeltaSeed> const& seeds = delta_seeds_[index];
    // However the delta ends, this file is done with its seeds.
    struct Done {
        SeedLibrary& library;
        std::vector<DeltaSeed> const& seeds;
        ~Done() {
            for (DeltaSeed const& seed : seeds)
                if (!seed.aligned) library.done_with(seed.file);
        }
    } const done{seeds_, seeds};
    fs::path const part = part_path_for(local_path);
    DeltaEvents events;
    events.comparing = [&](std::string const& name, std::uint64_t read, std::uint64_t total) {
        {
            std::lock_guard const lock(mutex_);
            Slot& s = slots_[slot];
            s.comparing = name;
            s.compare_percent = total ? percent_from(static_cast<double>(read) * 100.0 / static_cast<double>(total)) : 0;
            dirty_ = true;
        }
        on_bytes(slot, slots_[slot].bytes);
    };
    events.planned = [&](std::uint64_t travel) {
        {
            std::lock_guard const lock(mutex_);
            slots_[slot].comparing.clear();
        }
        set_travel(slot, travel);
    };
    events.travelled = [&](std::uint64_t done) { on_bytes(slot, done); };
    // A range the server is too busy for, or that broke, is asked for again where and
    // when the policy says, on another host when there is one; the plan and the bytes
    // already placed stay.
    events.retry = [&](std::exception_ptr const& failure, TransferTries& tries) {
        WallTime const now = wall_now();
        TransferFailure const why = classify_failure(failure, now);
        if (!is_transient(why)) return false;
        NextStep const next = policy_.failed(tries, hosts_, why, false, now, random_fraction());
        return !next.give_up && wait_until(slot, next.at, next.busy);
    };
    try {
        folders_.make_parent(local_path);
    } catch (std::exception const&) {
        return false;
    }
    DeltaSources sources{{}, {}, host, range_slots_};
    for (std::size_t h = 0; h < bases_.size(); ++h) {
        sources.urls.push_back(url_on(h, item));
        sources.index_urls.push_back(chunk_index_url(bases_[h], item.chunk_index->url));
    }
    std::optional<DeltaResult> const rebuilt =
        korvel::fetch_by_delta(http_, item, sources, part, seeds_, seeds, events, &cancel_);
    {
        std::lock_guard const lock(mutex_);
        slots_[slot].comparing.clear();
    }
    if (!rebuilt) {
        // The whole file travels after all; what the delta sent stays counted as received.
        set_travel(slot, item.size);
        std::lock_guard const lock(mutex_);
        slots_[slot].bytes = 0;
        slots_[slot].counted = 0;
        return false;
    }
    // The rebuilt file passed its check: only its replacement is tried again (as for a
    // whole download), and a target that stays held fails the file with its own text.
    try {
        place_download(part, local_path);
    } catch (...) {
        remove_file(part);
        throw;
    }
    records_.remove(item.path);
    std::lock_guard const lock(mutex_);
    cache_[item.path] = CacheEntry{rebuilt->size, placed_time(local_path), rebuilt->sha256};
    return true;
}

}  // namespace

fs::path part_path_for(fs::path const& local_path) {
    fs::path part = local_path;
    part += ".korvel.part";
    if (part.filename().native().size() <= longest_file_name) return part;
    // A name too long to take the suffix: a short one made from its hash, still beside
    // the target (see the header).
    std::string const name = wide_to_utf8(local_path.filename().native());
    return local_path.parent_path() / (utf8_to_wide(sha256_hex(name).substr(0, 32)) + L".korvel.part");
}

std::map<std::string, std::uint64_t> download_files(std::vector<DownloadItem> const& items, PatchConfig const& config,
                                                    DownloadSources const& sources, HttpSession& http,
                                                    HashCache& cache, ProgressReporter const& reporter,
                                                    std::vector<std::string> const& deleted) {
    DownloadStage stage(items, config, sources, deleted, http, cache, reporter);
    stage.run();
    return stage.seeds().bytes_read();
}

fs::path part_records_folder(PatchConfig const& config) {
    return config.hash_cache_file.parent_path() / "downloads";
}

}  // namespace korvel
