#pragma once
// The command line of korvel-publish, separate from main so that a test can run a
// whole command and read what an operator would read.

#include "publisher/host.h"

#include <ostream>
#include <vector>

namespace korvel {

// Exit codes: 0 done (verify: everything matches), 1 refused, failed or mismatches
// found, 2 a usage error. Results go to `out`, progress and errors to `err`.
int run_publish_command(std::vector<NativeString> const& args, std::ostream& out, std::ostream& err);

}  // namespace korvel
