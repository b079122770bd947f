#pragma once
// What a range request costs on this run's link, judged from what the run has measured:
// the round trip (a request's wait for its first byte) and the link's rate. It decides
// how many range requests the run keeps in flight, and which gaps between two fetched
// stretches of a file are fetched with them rather than costing a request of their own.
// It holds no clock and makes no request: the caller passes what it measured.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace korvel {

// One finished range request (of one or several ranges), as its caller timed it.
struct RangeTiming {
    double first_byte = 0;  // seconds from sending the request to its first body byte
    double transfer = 0;    // seconds from the first body byte to the last
    std::uint64_t bytes = 0;
    std::size_t in_flight = 1;  // the run's range requests in flight meanwhile, itself included
};

class RequestCost {
public:
    // Never fewer than one file had before: a round trip measured short (a server
    // nearby, a cached answer) must not leave a line idle between ranges. Never more:
    // each request in flight holds a connection to the server, and on patch day every
    // player's launcher asks at once. 32 keeps 100 Mbit/s busy at a 50 ms round trip with
    // ranges of 20 KB; small edits (ranges of a few KiB) then cost a round trip per 32
    // ranges, which is already eight times fewer than before.
    static constexpr std::size_t fewest_in_flight = 4;
    static constexpr std::size_t most_in_flight = 32;
    // Until the run has measured them: a broadband line to a server across a continent.
    static constexpr double assumed_round_trip = 0.05;  // seconds
    static constexpr double assumed_rate = 12.5e6;      // bytes per second
    // A transfer shorter than this tells nothing of the rate: its bytes came in one burst.
    static constexpr double shortest_measured = 0.02;   // seconds
    // Filled gaps add at most this share to the bytes of the list they are filled in,
    // however cheap bytes look: what a delta sends is a promise of its own.
    static constexpr double fill_share = 0.01;

    void observe(RangeTiming const& timing);

    double round_trip() const { return round_trip_.value_or(assumed_round_trip); }
    double rate() const { return rate_.value_or(assumed_rate); }

    // Requests in flight that keep the link busy when ranges are about `typical_range`
    // bytes long: while one waits its round trip, the others' bytes fill the line.
    std::size_t in_flight(std::uint64_t typical_range) const;

    // The gaps between a list's fetched stretches (in order, `fetched` bytes in all) that
    // are fetched with their neighbours: those whose bytes take less of the link's time
    // than one more request costs the run when in_flight requests share the round trip,
    // smallest first, until they would add more than fill_share of `fetched`.
    std::vector<bool> gaps_to_fill(std::span<std::uint64_t const> gaps, std::uint64_t fetched) const;

private:
    std::optional<double> round_trip_;
    std::optional<double> rate_;
};

// The range requests of a whole run in flight at once, shared by every file's delta (a
// stage runs several). Each thread that asks for ranges holds a slot while it runs, so
// the run's threads for ranges are never more than its slots; the slots are as many as
// the run's RequestCost says for the ranges measured so far.
class RangeSlots {
public:
    void acquire();      // waits for a free slot
    bool try_acquire();  // takes a free slot when there is one
    void release();
    // A request that succeeded, as its caller timed it (in_flight is counted here).
    void measured(RangeTiming timing);

    RequestCost cost() const;

    // Whether ranges of `url` may be asked for several in one request: true until the
    // url's server (scheme, host and port) has answered such a request otherwise than
    // as asked (many CDNs send the whole file); from then on, for the whole run, one
    // range per request there.
    bool joins_ranges(std::string const& url) const;
    void refuses_joined_ranges(std::string const& url);

private:
    std::size_t limit_locked() const { return cost_.in_flight(static_cast<std::uint64_t>(typical_range_)); }

    mutable std::mutex mutex_;
    std::condition_variable freed_;
    RequestCost cost_;
    double typical_range_ = 0;  // the lengths measured, smoothed
    std::size_t busy_ = 0;
    std::set<std::string> single_ranges_;  // servers that answer one range per request
};

}  // namespace korvel
