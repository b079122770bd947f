#include "patcher/transfer_policy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using korvel::FailureKind;
using korvel::HostTurn;
using korvel::Millis;
using korvel::NextStep;
using korvel::TransferFailure;
using korvel::TransferPolicy;
using korvel::TransferTries;
using korvel::WallTime;
using std::chrono::seconds;

namespace {

// 2026-12-08 09:00:00 UTC, a Tuesday.
WallTime const t0 = WallTime(std::chrono::duration_cast<WallTime::duration>(seconds(1796720400)));

TransferFailure status(int code, std::optional<int> retry_after_s = std::nullopt) {
    TransferFailure f{FailureKind::status, code, std::nullopt, "HTTP " + std::to_string(code)};
    if (retry_after_s) f.retry_after = t0 + seconds(*retry_after_s);
    return f;
}

TransferFailure of(FailureKind kind) {
    return {kind, 0, std::nullopt, "broken"};
}

}  // namespace

TEST(TransferPolicy, TransientAndPermanentAnswers) {
    struct Case {
        TransferFailure failure;
        bool transient;
    } const cases[] = {
        {status(429), true},  {status(503), true},          {status(502), true},
        {status(504), true},  {of(FailureKind::refused), true}, {of(FailureKind::reset), true},
        {of(FailureKind::timed_out), true}, {of(FailureKind::slow), true},
        {status(404), false}, {status(410), false},         {status(416), false},
        {status(403), false}, {status(500), false},         {of(FailureKind::other), false},
        {of(FailureKind::local), false}, {of(FailureKind::fatal), false},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.failure.text + " kind " + std::to_string(static_cast<int>(c.failure.kind)));
        EXPECT_EQ(korvel::is_transient(c.failure), c.transient);
        // A permanent answer ends a transfer of one try (a document) with its own text,
        // even with hosts to spare.
        TransferPolicy policy;
        TransferTries tries;
        NextStep const step = policy.failed(tries, {"a", "b"}, c.failure, false, t0, 0.5);
        EXPECT_EQ(step.give_up, !c.transient);
        if (step.give_up) EXPECT_EQ(step.text, c.failure.text);
    }
}

TEST(TransferPolicy, RetryAfterAsSecondsOrHttpDate) {
    struct Case {
        char const* text;
        std::optional<int> after_s;  // from t0
    } const cases[] = {
        {"7", 7},
        {" 120 ", 120},
        {"0", 0},
        {"Tue, 08 Dec 2026 09:00:42 GMT", 42},
        {"Tuesday, 08-Dec-26 09:01:00 GMT", 60},
        {"Tue Dec  8 09:00:05 2026", 5},
        {"Mon, 07 Dec 2026 09:00:00 GMT", 0},  // in the past: now
        {"soon", std::nullopt},
        {"-5", std::nullopt},
        {"", std::nullopt},
        {"Tue, 32 Dec 2026 09:00:00 GMT", std::nullopt},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.text);
        std::optional<WallTime> const got = korvel::parse_retry_after(c.text, t0);
        ASSERT_EQ(got.has_value(), c.after_s.has_value());
        if (got) EXPECT_EQ(std::chrono::duration_cast<seconds>(*got - t0).count(), *c.after_s);
    }
}

// A patch day walked through step by step: the answers each host gives, when, and what
// the policy says to do next.
TEST(TransferPolicy, WalkThroughAPatchDay) {
    TransferPolicy policy;
    std::vector<std::string> const hosts{"https://a", "https://b", "https://c"};
    TransferTries tries{policy.choose(hosts, 0, t0)};
    ASSERT_EQ(tries.host, 0u);

    // t=0: A answers 503 with Retry-After 7: B takes over at once, A is not asked before t=7.
    NextStep step = policy.failed(tries, hosts, status(503, 7), false, t0, 0.9);
    EXPECT_FALSE(step.give_up);
    EXPECT_TRUE(step.busy);
    EXPECT_EQ(step.host, 1u);
    EXPECT_EQ(step.at, t0);
    EXPECT_EQ(policy.ready_at("https://a", t0), t0 + seconds(7));

    // t=3: B resets after sending bytes: C, at once; the run of failures starts afresh.
    step = policy.failed(tries, hosts, of(FailureKind::reset), true, t0 + seconds(3), 0.9);
    EXPECT_EQ(step.host, 2u);
    EXPECT_EQ(step.at, t0 + seconds(3));
    EXPECT_FALSE(step.busy);

    // t=4: C stalls (a time-out). Every host has failed: the one that may be asked first (B, no
    // Retry-After) after a jittered backoff: the second failure since t=3 draws from 2 s.
    step = policy.failed(tries, hosts, of(FailureKind::timed_out), false, t0 + seconds(4), 0.5);
    EXPECT_EQ(tries.failures, 2);
    EXPECT_EQ(step.host, 1u);
    EXPECT_EQ(step.at, t0 + seconds(4) + Millis(1000));  // 0.5 of the second step, 2 s

    // New transfers keep away from the hosts that failed, as far as they can.
    EXPECT_EQ(policy.choose(hosts, 0, t0 + seconds(5)), 1u);
    EXPECT_EQ(policy.choose({"https://a", "https://d"}, 0, t0 + seconds(5)), 1u);

    // Later starts avoid all three for a few minutes.
    std::map<std::string, korvel::HostNote> const noted = policy.remembered();
    ASSERT_EQ(noted.size(), 3u);
    EXPECT_EQ(noted.at("https://c").avoid_until, t0 + seconds(4) + policy.settings().remember_for);
    EXPECT_EQ(noted.at("https://a").not_before, t0 + seconds(7));
    TransferPolicy later;
    for (auto const& [host, note] : noted) later.remember(host, note);
    EXPECT_EQ(later.choose({"https://c", "https://e"}, 0, t0 + seconds(60)), 1u);
    EXPECT_EQ(later.choose({"https://c", "https://e"}, 0, t0 + seconds(4) + Millis(300'001)), 0u);
}

TEST(TransferPolicy, OneHostWaitsForItsRetryAfterAndBacksOffWithJitter) {
    TransferPolicy policy;
    std::vector<std::string> const one{"https://a"};
    TransferTries tries;
    // Retry-After 7, then a jitter of at most the first step.
    NextStep step = policy.failed(tries, one, status(429, 7), false, t0, 0.99);
    EXPECT_EQ(step.at, t0 + seconds(7) + Millis(990));
    EXPECT_TRUE(step.busy);
    // Without Retry-After the waits grow: a share (the random fraction) of 2, 4, 8 ... s,
    // never more than 60 s.
    struct Case {
        double random;
        Millis wait;
    } const waits[] = {{1.0, Millis(2000)}, {0.5, Millis(2000)}, {0.0, Millis(0)},
                       {0.25, Millis(4000)}, {1.0, Millis(32000)}, {1.0, Millis(60000)}};
    WallTime now = t0 + seconds(7);
    for (Case const& c : waits) {
        step = policy.failed(tries, one, status(503), false, now, c.random);
        ASSERT_FALSE(step.give_up);
        EXPECT_EQ(step.at - now, c.wait) << tries.failures;
        now = step.at;
    }
    // A wait of full jitter differs from launcher to launcher: two draws, two times.
    TransferTries other = tries;
    EXPECT_NE(policy.failed(tries, one, status(503), false, now, 0.1).at,
              policy.failed(other, one, status(503), false, now, 0.7).at);
}

// A server that named its wait is asked again then (and a jitter of at most the first
// step), however often it turned the transfer away; without a name the bound doubles.
TEST(TransferPolicy, ANamedWaitIsNotDoubled) {
    struct Case {
        std::optional<int> retry_after;
        int failures;
        Millis bound;
    } const cases[] = {{2, 1, Millis(3000)}, {2, 6, Millis(3000)}, {{}, 1, Millis(1000)}, {{}, 6, Millis(32000)}};
    for (Case const& c : cases) {
        TransferPolicy policy;
        TransferTries tries;
        NextStep step;
        for (int k = 0; k < c.failures; ++k) step = policy.failed(tries, {"a"}, status(503, c.retry_after), false, t0, 1.0);
        EXPECT_EQ(step.at - t0, c.bound) << c.failures;
    }
}

// After a 429/503 one request at a time probes the host; its answer opens the host to all,
// its failure or end lets the next transfer probe. Every end of a probe wakes the waiting.
TEST(TransferPolicy, ABusyHostGetsOneProbeAtATime) {
    TransferPolicy policy;
    std::string const a = "https://a";
    int ended = 0;
    auto const wake = [&ended] { ++ended; };
    TransferTries tries;
    EXPECT_FALSE(policy.take_turn(a, t0).probing());
    policy.failed(tries, {a}, status(503, 2), false, t0, 0.0);
    EXPECT_FALSE(policy.take_turn(a, t0 + seconds(1)).granted());  // before its Retry-After
    HostTurn probe = policy.take_turn(a, t0 + seconds(2), wake);
    ASSERT_TRUE(probe.probing());
    EXPECT_FALSE(policy.take_turn(a, t0 + seconds(2)).granted());
    // Turned away again: closed until the new Retry-After, the probe given back once.
    policy.failed(tries, {a}, status(503, 4), false, t0 + seconds(2), 0.0);
    probe.release();
    probe.release();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(policy.take_turn(a, t0 + seconds(3)).granted());
    {
        HostTurn const stopped = policy.take_turn(a, t0 + seconds(4), wake);  // its thread ends, no answer
        ASSERT_TRUE(stopped.probing());
    }
    EXPECT_EQ(ended, 2);
    HostTurn next = std::move(probe = policy.take_turn(a, t0 + seconds(4), wake));
    ASSERT_TRUE(next.probing());
    EXPECT_FALSE(policy.take_turn(a, t0 + seconds(4)).granted());
    next.answered();
    EXPECT_EQ(ended, 3);
    HostTurn const first = policy.take_turn(a, t0 + seconds(4));
    HostTurn const second = policy.take_turn(a, t0 + seconds(4));
    EXPECT_TRUE(first.granted() && second.granted() && !first.probing() && !second.probing());
}

TEST(TransferPolicy, GivesUpPastTheBudgetOrACappedRetryAfter) {
    korvel::PolicySettings settings;
    settings.budget = Millis(60000);
    TransferPolicy policy(settings);
    std::vector<std::string> const one{"https://a"};
    TransferTries tries;
    WallTime now = t0;
    NextStep step;
    int attempts = 0;
    do {
        step = policy.failed(tries, one, of(FailureKind::timed_out), false, now, 1.0);
        if (!step.give_up) now = step.at;
        ++attempts;
    } while (!step.give_up && attempts < 100);
    EXPECT_TRUE(step.give_up);
    EXPECT_EQ(step.text, "broken");
    EXPECT_EQ(attempts, 6);  // waits of 1, 2, 4, 8, 16 s; the sixth would end past 60 s

    // Bytes that arrived start the budget afresh.
    step = policy.failed(tries, one, of(FailureKind::reset), true, now, 1.0);
    EXPECT_FALSE(step.give_up);

    // A server asking for more than the cap (5 min) ends the run with a text that says
    // when to come back.
    TransferPolicy busy;
    TransferTries fresh;
    step = busy.failed(fresh, one, status(503, 3600), false, t0, 0.0);
    EXPECT_TRUE(step.give_up);
    EXPECT_EQ(step.text, "A szerver túlterhelt, próbálja újra 60 perc múlva.");
    // A transfer about to start there is told the same.
    EXPECT_THROW(busy.ready_at("https://a", t0 + seconds(60)), std::runtime_error);
    EXPECT_EQ(busy.ready_at("https://a", t0 + seconds(3600 - 300)), t0 + seconds(3600));
    // ... unless another host can take over.
    TransferTries spare;
    step = busy.failed(spare, {"https://b", "https://c"}, status(503, 3600), false, t0, 0.0);
    EXPECT_FALSE(step.give_up);
    EXPECT_EQ(step.host, 1u);
}

// A file gets three tries when its failures are permanent, each wrong answer on another
// host; a local failure stays where it is; a full disk ends it at once.
TEST(TransferPolicy, PermanentFailuresOfAFileTryThreeTimes) {
    TransferPolicy policy;
    std::vector<std::string> const hosts{"a", "b"};
    TransferTries tries{0, 0, 3};
    NextStep step = policy.failed(tries, hosts, of(FailureKind::other), false, t0, 0.0);
    EXPECT_FALSE(step.give_up);
    EXPECT_EQ(step.host, 1u);
    step = policy.failed(tries, hosts, of(FailureKind::local), false, t0, 0.0);
    EXPECT_FALSE(step.give_up);
    EXPECT_EQ(step.host, 1u);
    step = policy.failed(tries, hosts, status(404), false, t0, 0.0);
    EXPECT_TRUE(step.give_up);
    EXPECT_EQ(step.text, "HTTP 404");

    TransferTries disk{0, 0, 3};
    EXPECT_TRUE(policy.failed(disk, hosts, of(FailureKind::fatal), false, t0, 0.0).give_up);
}

TEST(TransferPolicy, SpreadsNewTransfersAndNamesHosts) {
    TransferPolicy policy;
    std::vector<std::string> const hosts{"a", "b", "c"};
    std::vector<int> count(3);
    for (std::size_t spread = 17; spread < 17 + 30; ++spread) ++count[policy.choose(hosts, spread, t0)];
    EXPECT_EQ(count, (std::vector<int>{10, 10, 10}));

    EXPECT_EQ(korvel::host_of("HTTPS://Patch.Example.com:8443/releases/1/files"), "https://patch.example.com:8443");
    EXPECT_EQ(korvel::host_of("http://127.0.0.1:80?x"), "http://127.0.0.1:80");
}

// A rate over the last 10 s: it follows what arrives, forgets what came before the
// window, and starts afresh when a transfer begins again from byte 0.
TEST(SlowHosts, RateOverTheLastWindow) {
    korvel::SteadyTime const s0{};
    auto const at = [&](double s) {
        return s0 + std::chrono::duration_cast<korvel::SteadyTime::duration>(std::chrono::duration<double>(s));
    };
    korvel::RateWindow window(Millis(10000));
    EXPECT_EQ(window.rate(at(1)), 0.0);
    EXPECT_EQ(window.measured(at(1)), Millis(0));
    window.restart(at(0), 4096);
    // 1 MiB in the first second, reported every 1/100 s; then nothing.
    for (int i = 1; i <= 100; ++i) window.add(at(i / 100.0), 4096 + (1 << 20) * static_cast<std::uint64_t>(i) / 100);
    struct Case {
        double at_s;
        double rate;
    } const cases[] = {{1, 1 << 20}, {4, (1 << 20) / 4.0}, {10, (1 << 20) / 10.0}, {11.5, 0}};
    for (Case const& c : cases) EXPECT_NEAR(window.rate(at(c.at_s)), c.rate, c.rate / 50 + 1) << c.at_s;
    // 32 KiB a second from t=12 on: after a whole window, the rate is that alone.
    for (int i = 1; i <= 12; ++i) window.add(at(12 + i), 4096 + (1 << 20) + 32768ull * static_cast<std::uint64_t>(i));
    EXPECT_NEAR(window.rate(at(24)), 32768, 1);
    EXPECT_EQ(window.measured(at(24)), Millis(24000));
    // Back at byte 0: the rate counts from there, the time measured goes on.
    window.add(at(25), 0);
    window.add(at(27), 65536);
    EXPECT_NEAR(window.rate(at(27)), 32768, 1);
    EXPECT_EQ(window.measured(at(27)), Millis(27000));
}

// When a transfer leaves its host for being slow: the rows give its measured time, its
// rate and the others' together (in KiB/s), how many others received bytes in the window
// and how many are in flight now, and whether another host could take it.
TEST(SlowHosts, WhenATransferLeavesItsHost) {
    struct Case {
        char const* what;
        double measured_s, rate, others;
        std::size_t seen, live;
        bool other_host, leave;
    } const cases[] = {
        {"32 KiB/s beside a transfer of 1 MiB/s", 10, 32, 1024, 1, 1, true, true},
        {"... but only 9.9 s in", 9.9, 32, 1024, 1, 1, true, false},
        {"... the run's only transfer now", 60, 32, 1024, 1, 0, true, false},
        {"... the run's only transfer ever", 60, 32, 0, 0, 0, true, false},
        {"... with no other host to go to", 10, 32, 1024, 1, 1, false, false},
        {"a fifth of the other's rate", 10, 200, 1024, 1, 1, true, false},
        {"under an eighth of seven others' average", 10, 100, 7168, 7, 1, true, true},
        {"near a fair share beside seven others, six of them done just now", 10, 800, 7168, 7, 1, true, false},
        {"a crawl with no other host to go to", 10, 0.5, 1024, 1, 1, false, true},
        {"a crawl beside others as slow", 10, 0.5, 2, 1, 1, false, false},
        {"nothing at all (the stall time-out's case)", 20, 0, 1024, 1, 1, true, true},
    };
    for (Case const& c : cases) {
        korvel::TransferPace const pace{Millis(static_cast<long long>(c.measured_s * 1000)), c.rate * 1024,
                                        c.others * 1024, c.seen, c.live, c.other_host};
        EXPECT_EQ(korvel::leave_slow_host(pace), c.leave) << c.what;
    }
}
