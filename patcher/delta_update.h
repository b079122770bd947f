#pragma once
// A changed file rebuilt in its part from the chunks the player already has, with only
// the rest fetched by single-range requests. The caller falls back to fetching the
// whole file whenever this gives up.

#include "core/manifest.h"
#include "patcher/request_cost.h"
#include "patcher/seed_library.h"
#include "patcher/transfer_policy.h"
#include "platform/http.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

struct DeltaSeed {
    std::filesystem::path file;
    std::string name;      // UTF-8, shown while the seed is read
    bool aligned = false;  // the part itself: its chunks count only where they already lie
};

struct DeltaEvents {
    // While seeds are read: the seed's name, bytes of all seeds read so far, and their total.
    std::function<void(std::string const&, std::uint64_t, std::uint64_t)> comparing;
    // Once the plan is made: the bytes that travel for this file, index included.
    std::function<void(std::uint64_t)> planned;
    // Bytes that have travelled so far, index included.
    std::function<void(std::uint64_t)> travelled;
    // After a failed range request (the exception in flight), with that request's tries:
    // true, once the time for the next attempt has come, to ask for the range again on
    // the host tries.host names then; false to give up (the whole file is fetched then).
    // Empty: never again.
    std::function<bool(std::exception_ptr const&, TransferTries&)> retry;
};

// Where a delta's requests go: the file and its chunk index on each host of the run (the
// same release tree on each, in the order of the hosts TransferTries::host counts), the
// host the first request goes to, and the run's range slots, shared by all its files.
struct DeltaSources {
    std::vector<std::string> urls;
    std::vector<std::string> index_urls;
    std::size_t host = 0;
    RangeSlots& slots;
};

struct DeltaResult {
    std::string sha256;  // of the assembled part, equal to the entry's
    std::uint64_t size = 0;
};

// Rebuilds `entry` (which has a chunk index) into `part` from the file on the sources'
// hosts: fetches the index head and checks it against the manifest, reads the seeds
// that can contribute (through the run's `library`), plans (gaps filled as the run's
// measured request cost says), copies every matching chunk (checked as it is copied)
// while the rest travels in the run's range slots, then checks the whole part's SHA-256.
// Returns nothing, with the part removed, when the whole file should be fetched instead:
// no usable seed, an index that does not check out, seeds whose samples promise too
// little to be worth reading, a plan that would fetch most of the file anyway, ranges
// not served as asked, a range request that failed and that events.retry does not ask
// again, a seed that changed, or an assembled file with another SHA-256. Exceptions the
// events throw (a stopping
// stage), and HttpCancelled when `cancel` ends a request, pass through with the part
// kept: it holds the new file's first bytes, which the next try finds again as its
// aligned seed.
std::optional<DeltaResult> fetch_by_delta(HttpSession& http, FileEntry const& entry, DeltaSources const& sources,
                                          std::filesystem::path const& part, SeedLibrary& library,
                                          std::vector<DeltaSeed> const& seeds, DeltaEvents const& events,
                                          DownloadCancel const* cancel = nullptr);

}  // namespace korvel
