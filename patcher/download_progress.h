#pragma once
// Transfer rate and time left of the file being downloaded, shared by the game-file
// downloads and the launcher download.

#include "core/patch_progress.h"

#include <chrono>
#include <cstdint>

namespace korvel {

// Started once per file, before its first attempt: the rate of a retry includes the
// time lost to failed attempts and pauses.
class DownloadClock {
public:
    DownloadClock() : start_(std::chrono::steady_clock::now()) {}
    double elapsed_seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

// A share in percent as the window shows it, 0..100. A body longer than announced makes
// the quotient exceed 100 (or grow without bound), and a double outside int32's range
// must never reach the cast, so the value is clamped first; NaN counts as 0.
inline std::int32_t percent_from(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 100.0) return 100;
    return static_cast<std::int32_t>(value);
}

// speed = `received` / elapsed (at least 1 ms, so the first piece cannot divide by
// zero); eta = bytes left / speed while bytes are left and the rate is above 1 B/s,
// otherwise -1 (unknown). `received` counts the bytes fetched since the clock started,
// which is less than bytes_done when earlier runs left parts behind.
inline void apply_rate(PatchProgress& progress, DownloadClock const& clock, std::uint64_t received) {
    double const elapsed = std::max(clock.elapsed_seconds(), 0.001);
    progress.speed = static_cast<double>(received) / elapsed;
    progress.eta = (progress.bytes_done < progress.bytes_total && progress.speed > 1.0)
                       ? static_cast<double>(progress.bytes_total - progress.bytes_done) / progress.speed
                       : -1.0;
}

// The same when every byte done was fetched since the clock started.
inline void apply_rate(PatchProgress& progress, DownloadClock const& clock) {
    apply_rate(progress, clock, progress.bytes_done);
}

}  // namespace korvel
