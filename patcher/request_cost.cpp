#include "patcher/request_cost.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace korvel {

namespace {

// "scheme://host:port" of a URL: the server a request goes to.
std::string server_of(std::string const& url) {
    std::size_t const scheme = url.find("://");
    std::size_t const path = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return url.substr(0, path);
}

}  // namespace

void RequestCost::observe(RangeTiming const& timing) {
    // The shortest wait for a first byte is the round trip: longer ones waited behind
    // other requests' bytes on the line, or for a new connection.
    if (timing.first_byte > 0) round_trip_ = std::min(round_trip_.value_or(timing.first_byte), timing.first_byte);
    if (timing.transfer < shortest_measured || timing.bytes == 0) return;
    // Requests in flight together share the line: each saw its part of the rate.
    double const seen = static_cast<double>(timing.bytes) * static_cast<double>(timing.in_flight) / timing.transfer;
    rate_ = rate_ ? 0.75 * *rate_ + 0.25 * seen : seen;
}

std::size_t RequestCost::in_flight(std::uint64_t typical_range) const {
    double const line = rate() * round_trip();  // bytes under way while a request waits
    double const wanted = std::ceil(line / static_cast<double>(std::max<std::uint64_t>(typical_range, 1))) + 1;
    return static_cast<std::size_t>(
        std::clamp(wanted, static_cast<double>(fewest_in_flight), static_cast<double>(most_in_flight)));
}

std::vector<bool> RequestCost::gaps_to_fill(std::span<std::uint64_t const> gaps, std::uint64_t fetched) const {
    std::vector<bool> fill(gaps.size(), false);
    if (gaps.empty()) return fill;
    std::size_t const requests = in_flight(fetched / (gaps.size() + 1));
    double const worth = rate() * round_trip() / static_cast<double>(requests);
    std::vector<std::size_t> order(gaps.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return gaps[a] < gaps[b]; });
    auto const budget = static_cast<std::uint64_t>(fill_share * static_cast<double>(fetched));
    std::uint64_t spent = 0;
    for (std::size_t g : order) {
        if (static_cast<double>(gaps[g]) >= worth || spent + gaps[g] > budget) break;
        spent += gaps[g];
        fill[g] = true;
    }
    return fill;
}

void RangeSlots::acquire() {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return busy_ < limit_locked(); });
    ++busy_;
}

bool RangeSlots::try_acquire() {
    std::lock_guard const lock(mutex_);
    if (busy_ >= limit_locked()) return false;
    ++busy_;
    return true;
}

void RangeSlots::release() {
    {
        std::lock_guard const lock(mutex_);
        --busy_;
    }
    freed_.notify_all();
}

void RangeSlots::measured(RangeTiming timing) {
    {
        std::lock_guard const lock(mutex_);
        timing.in_flight = std::max<std::size_t>(busy_, 1);
        auto const length = static_cast<double>(timing.bytes);
        typical_range_ = typical_range_ > 0 ? 0.9 * typical_range_ + 0.1 * length : length;
        cost_.observe(timing);
    }
    // The limit may have grown with what was measured: every waiter looks again.
    freed_.notify_all();
}

RequestCost RangeSlots::cost() const {
    std::lock_guard const lock(mutex_);
    return cost_;
}

bool RangeSlots::joins_ranges(std::string const& url) const {
    std::lock_guard const lock(mutex_);
    return !single_ranges_.contains(server_of(url));
}

void RangeSlots::refuses_joined_ranges(std::string const& url) {
    std::lock_guard const lock(mutex_);
    single_ranges_.insert(server_of(url));
}

}  // namespace korvel
