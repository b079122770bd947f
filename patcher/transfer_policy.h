#pragma once
// Where a transfer goes next and when, after a failure: one value that every request
// path of a run asks (whole files, resumed parts, delta ranges, the version document and
// the manifest) instead of carrying a retry loop of its own. It has no clock, network or
// randomness: the caller passes the time and a random fraction, so that a table can walk
// it through "503 with Retry-After 7 at t=0, a reset at t=3, host C stalled". A stalled
// host is one whose transfer timed out: HTTP gives up on a transfer that receives
// nothing for http_stall_timeout. A slow one still sends, far less than the run's other
// transfers receive (leave_slow_host).
// Hosts are texts the caller chooses (the scheme, name and port of a URL); a run shares
// one policy between its threads, each transfer keeps its own TransferTries.

#include <chrono>
#include <cstdint>
#include <functional>
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
    slow,       // left for receiving far less than the run's other transfers (leave_slow_host)
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
// connection, a time-out (a stall), a slow host left. 404, 410, 416 and everything else
// are permanent.
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

// What the run keeps of a host for later starts.
struct HostNote {
    WallTime avoid_until{};  // it failed: later starts begin elsewhere until then
    WallTime not_before{};   // it sent Retry-After: nothing is sent to it before then
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

class TransferPolicy;

// A request's turn at a host (TransferPolicy::take_turn). After a 429/503 the host is
// closed: once its Retry-After has passed, one request of the run goes to it as a probe
// while the others wait for the probe's outcome. A turn that holds the probe gives it
// back when it ends without answered() (a failure, a stop, an exception), so that no
// transfer waits for a probe that nobody sends. Ending the probe calls the `ended`
// function take_turn was given, outside the policy's lock, to wake the waiting transfers.
class HostTurn {
public:
    HostTurn() = default;
    HostTurn(HostTurn&& other) noexcept;
    HostTurn& operator=(HostTurn&& other) noexcept;
    HostTurn(HostTurn const&) = delete;
    HostTurn& operator=(HostTurn const&) = delete;
    ~HostTurn() { release(); }

    // Whether the request may go: the host is open, or this turn holds its probe.
    bool granted() const { return granted_; }
    bool probing() const { return probe_; }
    // The host answered with the first bytes of a body: it is open to every request again.
    void answered();
    // Gives the probe back without an answer; after TransferPolicy::failed, which closes
    // the host again until the new Retry-After.
    void release();

private:
    friend class TransferPolicy;
    TransferPolicy* policy_ = nullptr;  // granted and not answered yet
    std::string host_;
    std::function<void()> ended_;
    bool granted_ = false;
    bool probe_ = false;
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

    // No request goes to `host` before this (a Retry-After it sent, in this run or noted
    // by an earlier start). A time past retry_after_cap from `now` (a Retry-After that
    // another request of the run was given) throws std::runtime_error with the text that
    // says when to come back, as failed() gives it.
    WallTime ready_at(std::string const& host, WallTime now) const;

    // A request's turn at `host` once ready_at has come. Granted when the host is open or
    // its probe is free (this turn then holds it); not granted while another turn's probe
    // is out, or before the host's Retry-After: the caller waits for `ended`, which the
    // probe's turn calls when it is answered or given back.
    HostTurn take_turn(std::string const& host, WallTime now, std::function<void()> ended = {});

    // Whether a transfer on hosts[current] could continue on another host at once: one
    // that has not failed and may be asked now.
    bool another_ready(std::vector<std::string> const& hosts, std::size_t current, WallTime now) const;

    // After a failed attempt on hosts[tries.host]. `progressed`: bytes arrived since the
    // last failure, which starts the transfer's run of failures afresh. `random01` in
    // [0, 1) draws the jittered wait. Transient failures continue on another host that
    // has not failed at once, else after the longer of the
    // host's Retry-After and a backoff drawn from 0 to first_step * 2^(failures - 1)
    // (at most step_cap), until the budget is spent or a Retry-After passes its cap. A
    // failure that names its Retry-After is not doubled: the server said when, and only a
    // jitter of at most first_step follows it, so that one run's waiting transfers do not
    // ask together. A 429/503 closes the host to all but one probe (take_turn).
    // Permanent failures go the same way until the transfer's permanent_tries are used up;
    // a local one stays on its host and never marks it.
    NextStep failed(TransferTries& tries, std::vector<std::string> const& hosts, TransferFailure const& failure,
                    bool progressed, WallTime now, double random01);

    // What later starts should know of each host the run heard of: until when to avoid
    // it (a failure noted now, or one an earlier start noted), and its Retry-After.
    std::map<std::string, HostNote> remembered() const;
    // A host an earlier start noted.
    void remember(std::string const& host, HostNote const& note);

private:
    struct Host {
        HostNote note;        // avoid_until: from an earlier start, or remember_for after a failure now
        bool failed = false;  // in this run
        bool closed = false;  // a 429/503 came, and no body since: one probe at a time
        bool probe_out = false;
    };
    friend class HostTurn;
    bool end_turn(std::string const& host, bool probe, bool answered);  // whether waiters should wake
    bool avoided(std::string const& host, WallTime now) const;  // under mutex_
    WallTime ready(std::string const& host) const;                // under mutex_

    PolicySettings settings_;
    mutable std::mutex mutex_;
    std::map<std::string, Host> hosts_;
};

// ---- Slow hosts ----

using SteadyTime = std::chrono::steady_clock::time_point;

// The bytes a transfer (or a whole run) has received, sampled over time, for its rate
// over the last `window`. Samples lie at least a quarter of a second apart, and none is
// kept that the window no longer needs, so a transfer that reports every few kilobytes
// keeps a few dozen.
class RateWindow {
public:
    explicit RateWindow(Millis window);

    // Measures afresh from `total` bytes at `now`.
    void restart(SteadyTime now, std::uint64_t total);
    // `total` bytes received by `now`. Fewer than before (a transfer that began again
    // from byte 0) start the samples afresh; the time measured goes on.
    void add(SteadyTime now, std::uint64_t total);
    // Bytes a second over the last window, or since the start while that is shorter.
    double rate(SteadyTime now) const;
    // How long it has been measuring; zero before the first sample.
    Millis measured(SteadyTime now) const;

private:
    struct Sample {
        SteadyTime time;
        std::uint64_t total = 0;
    };
    Millis window_;
    std::vector<Sample> samples_;  // oldest first; the first at or before now - window
    SteadyTime start_{};
};

struct SlowHostSettings {
    // Rates are measured over this; a transfer is not judged before it has run this long.
    Millis window{10000};
    // Slow: receiving less than this share of what each other transfer of the run does.
    double share = 1.0 / 8;
    // Bytes a second below which a slow transfer is left even without another host to go
    // to (and asked again after a backoff): a trickle that only keeps the stall time-out away.
    double crawl = 1024;
};

// What a judgement of one transfer sees, all over the same last window.
struct TransferPace {
    Millis measured{};            // how long this attempt has been measured
    double rate = 0;              // its bytes a second
    double others = 0;            // the run's other transfers' bytes a second, together
    std::size_t others_seen = 0;  // other workers' transfers that received bytes in the window
    std::size_t others_live = 0;  // other transfers in flight now
    bool other_host = false;      // a host it could continue on at once
};

// Whether a transfer should leave its host now: it has run a whole window, other
// transfers are in flight beside it (never the run's only one: a slow line is nobody's
// fault), it gets less than `share` of what each transfer seen in the window got on
// average (counted over the window, so that others ending just now do not make the
// share look larger), and either another host can take it or it crawls. The caller
// treats leaving as a transient failure (FailureKind::slow): the host counts as failed
// for the run, so the transfers that follow do not return to it and flap.
bool leave_slow_host(TransferPace const& pace, SlowHostSettings const& settings = {});

// The host part of a URL as the policy names it: scheme, name and port, lower-case
// ("https://patch.example.com:443"); the whole text when it has no "://".
std::string host_of(std::string_view url);

}  // namespace korvel
