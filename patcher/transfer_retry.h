#pragma once
// What the transfer code hands the transfer policy (patcher/transfer_policy.h): the
// failure it caught, the time and a random fraction, and the window's line while it
// waits for the policy's answer to come due.

#include "patcher/transfer_policy.h"

#include <exception>
#include <stdexcept>
#include <string>

namespace korvel {

// Thrown by a transfer's own progress handler to leave a host that sends far too slowly
// (leave_slow_host): a failure of kind FailureKind::slow, and a part keeps what arrived,
// to continue on another host from that byte. Its text names the URL.
class HostTooSlow : public std::runtime_error {
public:
    explicit HostTooSlow(std::string const& url) : std::runtime_error("Túl lassú letöltés: " + url) {}
};

// The failure in flight, told by its kind: an HTTP status (with its Retry-After read
// against `now`), a connection refused, reset or cut short, a time-out, a slow host left,
// a local file in use, or anything else. Called with an exception the caller has caught.
TransferFailure classify_failure(std::exception_ptr const& failure, WallTime now);

WallTime wall_now();

// In [0, 1), from a generator of the calling thread seeded once from the system.
double random_fraction();

// The detail line while a transfer waits `seconds_left` for its next attempt:
// "A szerver túlterhelt, újrapróbálás 7 mp múlva" when a server is overloaded, "A
// kapcsolat megszakadt, újrapróbálás 7 mp múlva" otherwise.
std::wstring waiting_text(bool busy, long long seconds_left);

// The whole seconds from `now` until `at`, rounded up; 0 once it has come.
long long seconds_until(WallTime at, WallTime now);

}  // namespace korvel
