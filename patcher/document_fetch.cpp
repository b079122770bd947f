#include "patcher/document_fetch.h"

#include "patcher/transfer_retry.h"

#include <stdexcept>

namespace korvel {

std::string fetch_document(HttpSession& http, TransferPolicy& policy, std::vector<std::string> const& urls,
                           std::uint64_t max_body, HttpCaching caching, WaitFn const& wait) {
    std::vector<std::string> hosts;
    for (std::string const& url : urls) hosts.push_back(host_of(url));
    // A permanent failure (a 404, a name that does not resolve) is not asked again, but
    // each of the other URLs still is.
    TransferTries tries{policy.choose(hosts, 0, wall_now()), 0, static_cast<int>(urls.size())};
    for (;;) {
        if (WallTime const due = policy.ready_at(hosts[tries.host], wall_now()); due > wall_now()) wait(due, true);
        // One request: it takes the probe of a busy host and gives it back when it fails
        // (its turn ends with the loop's pass, after failed()), or opens the host for the
        // downloads that follow. It goes even beside another's probe.
        HostTurn turn = policy.take_turn(hosts[tries.host], wall_now());
        try {
            std::string body = http_get(http, urls[tries.host], max_body, caching);
            turn.answered();
            return body;
        } catch (std::exception const&) {
            std::exception_ptr const caught = std::current_exception();
            WallTime const now = wall_now();
            TransferFailure const failure = classify_failure(caught, now);
            NextStep const next = policy.failed(tries, hosts, failure, false, now, random_fraction());
            if (next.give_up) {
                if (next.text == failure.text) std::rethrow_exception(caught);
                throw std::runtime_error(next.text);
            }
            if (next.at > wall_now()) wait(next.at, next.busy);
        }
    }
}

}  // namespace korvel
