#pragma once
// Which release file names a publisher may put on the server: exactly those the
// launcher would accept and write to a player's disk without clobbering anything.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// The longest release path, in UTF-16 units with "/" between folders: with the game
// folder's path and a separator it must fit the 259 characters of a classic Windows path,
// so game folders of up to 98 characters (a OneDrive "Dokumentumok" folder with a games
// folder below it is about 60) hold every file.
constexpr std::size_t max_release_path_units = 160;

// Why the launcher could not take this manifest path, or "" when it can. Checks the
// launcher's own rules (is_safe_relative_path, is_protected_path), the lengths a Windows
// player's disk can hold (a name of at most 255 UTF-16 units, a path of at most
// max_release_path_units), its temporary suffix ".korvel.part" and its state folders
// ".korvel" and ".korvel_update".
std::string publish_path_problem(std::string_view utf8_path);

// One line per pair of paths that Windows would not tell apart: two files with the
// same name in another case, or a file whose name is also (in any case) a folder of
// another path. `paths` are valid UTF-8.
std::vector<std::string> case_collisions(std::vector<std::string> const& paths);

}  // namespace korvel
