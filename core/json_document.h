#pragma once
// Parsing the JSON documents that come from a patch server or the launcher's own state
// files. The library parses any nesting without recursion, but copying, comparing or
// serialising a value recurses once per level: a document of a few hundred kilobytes of
// "[" would end the program with a stack overflow the first time it is copied. None of
// the formats read here nests more than a few levels, so deeper documents are refused
// while they are parsed, before any value of them exists.

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Arrays and objects inside one another, the outermost counted.
inline constexpr int json_depth_limit = 64;

// Parses `text` strictly as one JSON value, as json::parse does (`callback`, when given,
// sees every event as it would there). A document nested deeper than json_depth_limit is
// unreadable like any other: it throws the library's parse_error 101, "document nested
// deeper than 64 levels".
nlohmann::json parse_json_document(std::string_view text, nlohmann::json::parser_callback_t callback = nullptr);

// The HTTP(S) URLs listed under `key` of an object, in order. A list that launchers
// before it ignore is read the same way: anything but an array, and any element that is
// not a string starting with "http://" or "https://", is left out, never an error.
std::vector<std::string> url_list(nlohmann::json const& object, char const* key);

}  // namespace korvel
