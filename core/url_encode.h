#pragma once
// Percent-encoding of the paths that file URLs are built from.

#include <string>
#include <string_view>

namespace korvel {

// Percent-encodes every byte but ASCII letters, digits and - . / _ ~.
std::string url_encode_path(std::string_view path);

}  // namespace korvel
