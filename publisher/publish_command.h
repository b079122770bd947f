#pragma once
// The command line of korvel-publish, separate from wmain so that a test can run a
// whole command and read what an operator would read.

#include <ostream>
#include <string>
#include <vector>

namespace korvel {

// Exit codes: 0 done (verify: everything matches), 1 refused, failed or mismatches
// found, 2 a usage error. Results go to `out`, progress and errors to `err`.
int run_publish_command(std::vector<std::wstring> const& args, std::ostream& out, std::ostream& err);

}  // namespace korvel
