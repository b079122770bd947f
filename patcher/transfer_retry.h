#pragma once
// What the transfer code hands the transfer policy (patcher/transfer_policy.h): the
// failure it caught, the time and a random fraction, and the window's line while it
// waits for the policy's answer to come due.

#include "patcher/transfer_policy.h"

#include <exception>
#include <string>

namespace korvel {

// The failure in flight, told by its kind: an HTTP status (with its Retry-After read
// against `now`), a connection refused, reset or cut short, a time-out, a local file in
// use, or anything else. Called with an exception the caller has caught.
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
