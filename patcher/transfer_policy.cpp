#include "patcher/transfer_policy.h"

#include "core/ascii.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

namespace korvel {

namespace {

using std::chrono::duration_cast;
using std::chrono::seconds;

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    std::int64_t const era = (y >= 0 ? y : y - 399) / 400;
    unsigned const yoe = static_cast<unsigned>(y - era * 400);
    unsigned const doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    unsigned const doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Reads the fields of an HTTP date in any of its three forms:
//   Sun, 06 Nov 1994 08:49:37 GMT    Sunday, 06-Nov-94 08:49:37 GMT    Sun Nov  6 08:49:37 1994
std::optional<WallTime> parse_http_date(std::string_view text) {
    static constexpr std::array<std::string_view, 12> months{"jan", "feb", "mar", "apr", "may", "jun",
                                                             "jul", "aug", "sep", "oct", "nov", "dec"};
    // Split into words at blanks, commas, dashes and colons.
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == ',' || c == '-' || c == ':' || c == '\t') {
            if (!word.empty()) words.push_back(ascii_lower(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(ascii_lower(word));
    auto const number = [](std::string const& w) -> std::optional<int> {
        if (w.empty() || w.size() > 4 || w.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        return std::stoi(w);
    };
    auto const month = [&](std::string const& w) -> std::optional<unsigned> {
        for (std::size_t i = 0; i < months.size(); ++i)
            if (w == months[i]) return static_cast<unsigned>(i + 1);
        return std::nullopt;
    };
    std::optional<int> day, year, hour, minute, second;
    std::optional<unsigned> mon;
    if (words.size() == 8 && words[7] == "gmt") {  // weekday day month year h m s GMT
        day = number(words[1]), mon = month(words[2]), year = number(words[3]);
        hour = number(words[4]), minute = number(words[5]), second = number(words[6]);
        if (year && words[3].size() == 2) *year += *year < 70 ? 2000 : 1900;
    } else if (words.size() == 7) {  // asctime: weekday month day h m s year
        mon = month(words[1]), day = number(words[2]), year = number(words[6]);
        hour = number(words[3]), minute = number(words[4]), second = number(words[5]);
    }
    if (!day || !mon || !year || !hour || !minute || !second || *day < 1 || *day > 31 || *hour > 23 ||
        *minute > 59 || *second > 60)
        return std::nullopt;
    std::int64_t const total = days_from_civil(*year, *mon, static_cast<unsigned>(*day)) * 86400 + *hour * 3600 +
                               *minute * 60 + *second;
    return WallTime(duration_cast<WallTime::duration>(seconds(total)));
}

// A server asked for a wait past the cap: the player is told when to come back.
std::string busy_text(WallTime asked, WallTime now) {
    auto const minutes = (duration_cast<seconds>(asked - now).count() + 59) / 60;
    return "A szerver túlterhelt, próbálja újra " + std::to_string(minutes) + " perc múlva.";
}

}  // namespace

bool is_transient(TransferFailure const& failure) {
    switch (failure.kind) {
        case FailureKind::status:
            return failure.status == 429 || failure.status == 502 || failure.status == 503 || failure.status == 504;
        case FailureKind::refused:
        case FailureKind::reset:
        case FailureKind::timed_out:
        case FailureKind::slow:
            return true;
        case FailureKind::local:
        case FailureKind::other:
        case FailureKind::fatal:
            break;
    }
    return false;
}

std::optional<WallTime> parse_retry_after(std::string_view text, WallTime now) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    if (text.find_first_not_of("0123456789") == std::string_view::npos) {
        // More digits than any sensible wait are a very long wait, not an overflow.
        std::int64_t value = 0;
        for (char c : text) value = std::min<std::int64_t>(value * 10 + (c - '0'), 10'000'000'000);
        return now + seconds(value);
    }
    std::optional<WallTime> const date = parse_http_date(text);
    if (!date) return std::nullopt;
    return std::max(*date, now);
}

TransferPolicy::TransferPolicy(PolicySettings settings) : settings_(settings) {}

bool TransferPolicy::avoided(std::string const& host, WallTime now) const {
    auto const it = hosts_.find(host);
    return it != hosts_.end() && (it->second.failed || it->second.note.avoid_until > now);
}

WallTime TransferPolicy::ready(std::string const& host) const {
    auto const it = hosts_.find(host);
    return it == hosts_.end() ? WallTime{} : it->second.note.not_before;
}

WallTime TransferPolicy::ready_at(std::string const& host, WallTime now) const {
    WallTime asked;
    {
        std::lock_guard const lock(mutex_);
        asked = ready(host);
    }
    if (asked - now > settings_.retry_after_cap) throw std::runtime_error(busy_text(asked, now));
    return asked;
}

HostTurn TransferPolicy::take_turn(std::string const& host, WallTime now, std::function<void()> ended) {
    HostTurn turn;
    std::lock_guard const lock(mutex_);
    Host& h = hosts_[host];
    if (h.note.not_before > now || (h.closed && h.probe_out)) return turn;
    turn.policy_ = this;
    turn.host_ = host;
    turn.ended_ = std::move(ended);
    turn.granted_ = true;
    turn.probe_ = h.closed;
    h.probe_out = h.closed;
    return turn;
}

bool TransferPolicy::end_turn(std::string const& host, bool probe, bool answered) {
    std::lock_guard const lock(mutex_);
    Host& h = hosts_[host];
    bool const opened = answered && h.closed;
    if (answered) h.closed = false;
    if (probe) h.probe_out = false;
    return probe || opened;
}

HostTurn::HostTurn(HostTurn&& other) noexcept { *this = std::move(other); }

HostTurn& HostTurn::operator=(HostTurn&& other) noexcept {
    if (this != &other) {
        release();
        policy_ = std::exchange(other.policy_, nullptr);
        host_ = std::move(other.host_);
        ended_ = std::move(other.ended_);
        granted_ = std::exchange(other.granted_, false);
        probe_ = std::exchange(other.probe_, false);
    }
    return *this;
}

void HostTurn::answered() {
    if (!policy_) return;
    bool const wake = std::exchange(policy_, nullptr)->end_turn(host_, probe_, true);
    probe_ = false;
    if (wake && ended_) ended_();
}

void HostTurn::release() {
    if (!policy_ || !probe_) return;
    std::exchange(policy_, nullptr)->end_turn(host_, true, false);
    probe_ = false;
    if (ended_) ended_();
}

bool TransferPolicy::another_ready(std::vector<std::string> const& hosts, std::size_t current, WallTime now) const {
    std::lock_guard const lock(mutex_);
    for (std::size_t i = 0; i < hosts.size(); ++i)
        if (i != current && hosts[i] != hosts[current] && !avoided(hosts[i], now) && ready(hosts[i]) <= now)
            return true;
    return false;
}

std::size_t TransferPolicy::choose(std::vector<std::string> const& hosts, std::size_t spread, WallTime now) const {
    if (hosts.empty()) return 0;
    std::lock_guard const lock(mutex_);
    std::size_t const n = hosts.size();
    std::optional<std::size_t> earliest;
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t const i = (spread + k) % n;
        if (!avoided(hosts[i], now) && ready(hosts[i]) <= now) return i;
        if (!earliest || ready(hosts[i]) < ready(hosts[*earliest])) earliest = i;
    }
    return *earliest;
}

NextStep TransferPolicy::failed(TransferTries& tries, std::vector<std::string> const& hosts,
                                TransferFailure const& failure, bool progressed, WallTime now, double random01) {
    NextStep step;
    if (progressed || !tries.failing_since) {
        tries.failures = 0;
        tries.failing_since = now;
    }
    bool const local = failure.kind == FailureKind::local;
    if (failure.kind == FailureKind::fatal || hosts.empty() ||
        (!is_transient(failure) && ++tries.permanent >= tries.permanent_tries)) {
        step.give_up = true;
        step.text = failure.text;
        return step;
    }
    ++tries.failures;
    step.busy = failure.kind == FailureKind::status && (failure.status == 429 || failure.status == 503);

    std::lock_guard const lock(mutex_);
    std::size_t const n = hosts.size();
    std::string const& here = hosts[tries.host % n];
    if (!local) {
        Host& host = hosts_[here];
        host.failed = true;
        host.note.avoid_until = std::max(host.note.avoid_until, now + settings_.remember_for);
        if (failure.retry_after) host.note.not_before = std::max(host.note.not_before, *failure.retry_after);
        if (step.busy) host.closed = true;
    }

    // Another host that has not failed takes the transfer over at once.
    for (std::size_t k = 1; k < n && !local; ++k) {
        std::size_t const i = (tries.host + k) % n;
        if (!avoided(hosts[i], now) && ready(hosts[i]) <= now) {
            tries.host = i;
            step.host = i;
            step.at = now;
            return step;
        }
    }
    // Else the host that may be asked first, after a backoff that spreads the launchers
    // which failed together: a random share of a step that doubles with each failure
    // (after the named time, and of the first step only, when the server named one);
    // another host comes before the one that just failed when both may be asked alike.
    std::size_t best = local ? tries.host % n : (tries.host + 1) % n;
    for (std::size_t k = 2; k <= n && !local; ++k)
        if (std::size_t const i = (tries.host + k) % n; ready(hosts[i]) < ready(hosts[best])) best = i;
    WallTime const asked = ready(hosts[best]);
    if (asked - now > settings_.retry_after_cap) {
        step.give_up = true;
        step.text = busy_text(asked, now);
        return step;
    }
    int const doublings = failure.retry_after ? 0 : std::min(tries.failures - 1, 30);
    Millis const top = std::min(settings_.step_cap, Millis(settings_.first_step.count() << doublings));
    Millis const jitter(static_cast<std::int64_t>(std::clamp(random01, 0.0, 1.0) * static_cast<double>(top.count())));
    step.at = failure.retry_after ? std::max(asked, now) + jitter : std::max(asked, now + jitter);
    if (step.at - *tries.failing_since > settings_.budget) {
        step.give_up = true;
        step.text = failure.text;
        return step;
    }
    tries.host = best;
    step.host = best;
    return step;
}

std::map<std::string, HostNote> TransferPolicy::remembered() const {
    std::lock_guard const lock(mutex_);
    std::map<std::string, HostNote> out;
    for (auto const& [name, host] : hosts_) out.emplace(name, host.note);
    return out;
}

void TransferPolicy::remember(std::string const& host, HostNote const& note) {
    std::lock_guard const lock(mutex_);
    HostNote& h = hosts_[host].note;
    h.avoid_until = std::max(h.avoid_until, note.avoid_until);
    h.not_before = std::max(h.not_before, note.not_before);
}

RateWindow::RateWindow(Millis window) : window_(window) {}

void RateWindow::restart(SteadyTime now, std::uint64_t total) {
    samples_.assign(1, Sample{now, total});
    start_ = now;
}

void RateWindow::add(SteadyTime now, std::uint64_t total) {
    if (samples_.empty()) {
        restart(now, total);
        return;
    }
    if (total < samples_.back().total) {
        samples_.assign(1, Sample{now, total});
        return;
    }
    // The newest sample moves along until it is a quarter second past the one before it.
    if (samples_.size() >= 2 && now - samples_[samples_.size() - 2].time < Millis(250))
        samples_.back() = Sample{now, total};
    else
        samples_.push_back(Sample{now, total});
    // The oldest that is still needed is the last one at or before the window's start.
    auto const edge = now - window_;
    std::size_t drop = 0;
    while (drop + 1 < samples_.size() && samples_[drop + 1].time <= edge) ++drop;
    samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(drop));
}

double RateWindow::rate(SteadyTime now) const {
    if (samples_.empty()) return 0;
    // From the last sample at or before the window's start (else the first) to now.
    auto const edge = now - window_;
    Sample const* base = &samples_.front();
    for (Sample const& s : samples_)
        if (s.time <= edge) base = &s;
    double const seconds_over = std::chrono::duration<double>(now - base->time).count();
    if (seconds_over <= 0) return 0;
    return static_cast<double>(samples_.back().total - base->total) / seconds_over;
}

Millis RateWindow::measured(SteadyTime now) const {
    if (samples_.empty()) return Millis(0);
    return duration_cast<Millis>(now - start_);
}

bool leave_slow_host(TransferPace const& pace, SlowHostSettings const& settings) {
    if (pace.measured < settings.window || pace.others_live == 0 || pace.others_seen == 0) return false;
    double const each = pace.others / static_cast<double>(pace.others_seen);
    return pace.rate < settings.share * each && (pace.other_host || pace.rate < settings.crawl);
}

std::string host_of(std::string_view url) {
    std::size_t const scheme_end = url.find("://");
    if (scheme_end == std::string_view::npos) return std::string(url);
    std::size_t const end = url.find_first_of("/?#", scheme_end + 3);
    return ascii_lower(std::string(url.substr(0, end)));
}

}  // namespace korvel
