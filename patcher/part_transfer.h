#pragma once
// Downloads into a temporary ".part" file that survive a broken transfer. A transfer
// that breaks after bytes arrived keeps its part; the next attempt, or the next run,
// asks only for the rest ("Range" with "If-Range" carrying the validator of the answer
// the part came from). What a part belongs to is written to a small record in the
// launcher's state folder, so that a part from another release or another answer of
// the server is never continued. The SHA-256 check before the part replaces anything
// stays with the caller, and still decides.

#include "platform/http.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// What a part file holds the beginning of.
struct PartRecord {
    std::string path;       // manifest path, or the launcher's staging name
    std::uint64_t size = 0;  // listed size; 0 when not known
    std::string sha256;     // listed hash, lower-case
    std::string url;
    std::string validator;  // ETag or Last-Modified of the answer the part's bytes came from
    std::filesystem::path part;  // where the part lies
};

// The records of one state folder (`.korvel/downloads/`), read once per run. Saving and
// removing are safe from several threads. A record whose part lies outside `game_dir` is
// ignored and never acted on: the state folder can sit inside the game folder, where a
// hostile manifest could plant a record naming any file on the machine.
class PartRecords {
public:
    PartRecords(std::filesystem::path folder, std::filesystem::path game_dir);

    // The record kept for a path, when one was found at construction and is whole.
    std::optional<PartRecord> find(std::string const& path) const;

    // Never throw: a record that cannot be written only means no resuming later.
    void save(PartRecord const& record);
    void remove(std::string const& path);

    // After a successful run: every remaining record and the part it describes go.
    void remove_all();

private:
    std::filesystem::path file_for(std::string const& path) const;

    std::optional<PartRecord> read(std::filesystem::path const& file) const;

    std::filesystem::path folder_;
    std::filesystem::path game_dir_;
    std::map<std::string, PartRecord> found_;
    std::mutex mutex_;
    bool folder_made_ = false;
};

// Thrown by a progress handler to stop a transfer because the run is ending; the part
// is kept for the next run.
struct TransferStopped {};

// One file fetched into its part, attempt by attempt, from one host or, moved between
// attempts, from several: a part continues on another host from the byte it reached. Its
// validator then means nothing there (servers make their own ETags), so that request asks
// for the rest without If-Range; the Content-Range must still start at the part's end
// and name the listed size, and the SHA-256 of the whole decides as always.
class PartTransfer {
public:
    struct Target {
        std::string path;  // record key and what the record names
        std::string url;
        std::filesystem::path part;
        std::uint64_t size = 0;  // expected size; 0 = unknown
        std::string sha256;
        std::optional<std::uint64_t> size_limit{};
    };

    struct Fetched {
        std::string sha256;  // of the whole part, lower-case, hashed as the bytes arrived
        std::uint64_t size = 0;
    };

    // Continues a part that `records` says belongs to this target (same path, size,
    // SHA-256 and part file), when it is there; a record of another URL (a mirror) counts
    // as a part from another host.
    PartTransfer(Target target, PartRecords& records);

    // One attempt with `http_download` (no folder made, data flushed to disk). When it
    // throws, the part is either kept for the next attempt (a transfer that broke, was
    // stopped, left as too slow (HostTooSlow) or cancelled after bytes arrived, from an
    // answer with a validator) or removed with its record (also after an error status
    // other than 429, 502, 503 and 504, so that the next attempt asks for the whole file). `progress` receives the
    // part's bytes (kept prefix included) and the total.
    Fetched attempt(HttpSession& http, DownloadProgressFn const& progress, std::vector<char>* buffer,
                    DownloadCancel const* cancel = nullptr);

    // The part and its record go: after a hash mismatch, or any other failure of the
    // caller's own that makes the bytes worthless.
    void discard();

    // The next attempts go to `url`, another host's copy of the same file.
    void move_to(std::string url);

    // After the caller has moved the part into place: the record goes.
    void placed();

    std::uint64_t kept_bytes() const { return resume_ ? resume_->offset : 0; }

private:
    // What one attempt knows so far: whether the server answered, and the part's size
    // and validator as they now stand.
    struct AttemptState {
        bool answered = false;
        std::uint64_t part_size = 0;
        std::string validator;
    };

    // On the server's answer: whether the part continues, and whether a record names it.
    void record_answer(DownloadAnswer const& answer, AttemptState& state);
    // From inside a catch block, with the attempt's exception in flight: keeps the part
    // for the next attempt or removes it, by what went wrong.
    void settle_failed_part(AttemptState const& state);
    // Keeps a part that has bytes and a validator to resume against; removes any other.
    void keep_or_discard(std::uint64_t part_size, std::string const& validator);
    // A file listed with size 0: nothing to continue, so no record and no resumed part.
    bool listed_empty() const;

    Target target_;
    PartRecords& records_;
    std::optional<ResumeFrom> resume_;
    bool recorded_ = false;
    bool other_host_ = false;  // the kept bytes came from another host than target_.url
};

}  // namespace korvel
