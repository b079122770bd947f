#pragma once
// Where a transfer goes next and when, after a failure: one value that every request
// path of a run asks (whole files, resumed parts, delta ranges, the version document and
// the manifest) instead of carrying a retry loop of its own. It has no clock, network or
// randomness: the caller passes the time and a random fraction, so that a table can walk
// it through "503 with Retry-After 7 at t=0, a reset at t=3, host C stalled". A stalled
// host is one whose transfer timed out: HTTP gives up on a transfer that receives
// nothing for http_stall_timeout.
// Hosts are texts the caller chooses (the scheme, name and port of a URL); a run shares
// one policy between its threads, each transfer keeps its own TransferTries.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Times are wall-clock: a Retry-After date is one, and host notes outlive the process.
using WallTime = std::chrono::system_clock::time_point;
using Millis = std::chrono::milliseconds;

// What went wrong with one request, as the transfer code saw it.
enum class FailureKind {
    // Transient: retried within the budget, on another host when there is one.
    status,     // an HTTP status outside 2xx (in `status`); transient for 429, 502, 503, 504
    refused,    // no connection could be made (refused, name not resolved)
    reset,      // the connection broke: reset, closed early, body cut short
    timed_out,  // nothing received within the time-out (a stalled host: see http_stall_timeout)
    // Permanent: tried TransferTries::permanent_tries times in all.
    local,  // this machine's own passing trouble (a file another program holds): same host
    other,  // anything else (wrong bytes, another status): another host when there is one
    // Never tried again (a full disk, a folder that cannot be written).
    fatal,
};

struct TransferFailure {
    FailureKind kind = FailureKind::other;
    int status = 0;
    std::optional<WallTime> retry_after{};  // when a 429/503 named one
    std::string text;                       // the error's own text, thrown when the transfer gives up
};

// Whether another attempt is worth its wait: 429, 502, 503, 504, a refused or reset
// connection, a time-out (a stall). 404, 410, 416 and everything else are permanent.
bool is_transient(TransferFailure const& failure);

// A Retry-After value as delta-seconds or an HTTP date (IMF-fixdate, RFC 850 or asctime
// form), as a time; nothing when it is neither. A date in the past is `now`.
std::optional<WallTime> parse_retry_after(std::string_view text, WallTime now);

struct PolicySettings {
    Millis first_step{1000};  // the first backoff step; it doubles with every failure
    Millis step_cap{60000};
    // How long one transfer may go on failing without a byte of progress.
    Millis budget{10 * 60 * 1000};
    // The longest Retry-After a player waits through; a server asking for more is busy
    // and the run ends with a text that says when to come back.
    Millis retry_after_cap{5 * 60 * 1000};
    Millis remember_for{5 * 60 * 1000};  // a failed host is avoided by later starts this long
};

// One transfer's history: the host it uses now and its run of failures.
struct TransferTries {
    std::size_t host = 0;  // index into the caller's host list
    int failures = 0;      // since the last progress
    int permanent_tries = 1;  // attempts in all when failures are permanent: 1 for documents, 3 for files
    int permanent = 0;        // permanent failures so far
    std::optional<WallTime> failing_since{};
};

// The policy's answer after a failure.
struct NextStep {
    bool give_up = false;
    std::string text;      // give_up: what the run fails with
    std::size_t host = 0;  // otherwise: where the next attempt goes ...
    WallTime at{};         // ... not before this
    bool busy = false;     // the wait is a server's overload (429/503), not a broken line
};

class TransferPolicy {
public:
    explicit TransferPolicy(PolicySettings settings = {});

    PolicySettings const& settings() const { return settings_; }

    // The host a new transfer starts on: from `spread` (taken modulo the list's size) on,
    // the first host that has not failed and may be asked now; else the one that may be
    // asked first. A caller that passes a different spread for each transfer (a random
    // number of the run plus the transfer's number) spreads players over the hosts.
    std::size_t choose(std::vector<std::string> const& hosts, std::size_t spread, WallTime now) const;

    // No request goes to `host` before this (a Retry-After it sent).
    WallTime ready_at(std::string const& host) const;

    // After a failed attempt on hosts[tries.host]. `progressed`: bytes arrived since the
    // last failure, which starts the transfer's run of failures afresh. `random01` in
    // [0, 1) draws the jittered wait. Transient failures continue on another host that
    // has not failed at once, else after the longer of the
    // host's Retry-After and a backoff drawn from 0 to first_step * 2^(failures - 1)
    // (at most step_cap), until the budget is spent or a Retry-After passes its cap.
    // Permanent failures go the same way until the transfer's permanent_tries are used up;
    // a local one stays on its host and never marks it.
    NextStep failed(TransferTries& tries, std::vector<std::string> const& hosts, TransferFailure const& failure,
                    bool progressed, WallTime now, double random01);

    // Hosts that failed, with the time until which later starts avoid them.
    std::map<std::string, WallTime> remembered() const;
    // A host an earlier start noted: avoided until `until`.
    void remember(std::string const& host, WallTime until);

private:
    struct Host {
        WallTime avoid_until{};  // from an earlier start
        WallTime not_before{};   // a Retry-After
        bool failed = false;     // in this run
    };
    bool avoided(std::string const& host, WallTime now) const;  // under mutex_
    WallTime ready(std::string const& host) const;                // under mutex_

    PolicySettings settings_;
    mutable std::mutex mutex_;
    std::map<std::string, Host> hosts_;
    std::map<std::string, WallTime> noted_;  // failed in this run: avoided by later starts until then
};

// The host part of a URL as the policy names it: scheme, name and port, lower-case
// ("https://patch.example.com:443"); the whole text when it has no "://".
std::string host_of(std::string_view url);

}  // namespace korvel
