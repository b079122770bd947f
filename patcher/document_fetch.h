#pragma once
// The version document and the manifest through the run's transfer policy: each URL of
// the list stands for a host of its own, tried in order, and a transient failure waits
// or moves on as the policy says instead of failing the run.

#include "patcher/transfer_policy.h"
#include "platform/http.h"

#include <functional>
#include <string>
#include <vector>

namespace korvel {

// Called while a document waits for its next attempt, with the time it is due and
// whether a server asked for the wait; returns when the time has come.
using WaitFn = std::function<void(WallTime due, bool busy)>;

// The body of the first URL that answers. A permanent failure (404, a name that does not
// resolve ...) moves on to the next URL without asking that one again; the last one's,
// or a transient one past the policy's limits, is rethrown as it came (or as the policy's own text when a server
// asked for a wait past its cap).
std::string fetch_document(HttpSession& http, TransferPolicy& policy, std::vector<std::string> const& urls,
                           std::uint64_t max_body, HttpCaching caching, WaitFn const& wait);

}  // namespace korvel
