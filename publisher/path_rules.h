#pragma once
// Which release file names a publisher may put on the server: exactly those the
// launcher would accept and write to a player's disk without clobbering anything.

#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Why the launcher could not take this manifest path, or "" when it can. Checks the
// launcher's own rules (is_safe_relative_path, is_protected_path), its temporary
// suffix ".korvel.part" and its state folders ".korvel" and ".korvel_update".
std::string publish_path_problem(std::string_view utf8_path);

// One line per pair of paths that Windows would not tell apart: two files with the
// same name in another case, or a file whose name is also (in any case) a folder of
// another path. `paths` are valid UTF-8.
std::vector<std::string> case_collisions(std::vector<std::string> const& paths);

}  // namespace korvel
