#pragma once
// Finds one resource in the bytes of a Windows program (a PE image as it lies on disk)
// without loading or running it: the operators' tool reads what an offered launcher
// declares about itself this way, on Linux as well as on Windows. The file may be
// anything the operator or a server hands over: every offset is checked against the
// bytes before it is followed, so a truncated or hostile file is refused, never over-read.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace korvel {

// A file that is no well-formed PE image as far as the reader had to look; what() says
// what is wrong ("truncated or damaged: ...", "not a Windows program: ...").
class PeFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The bytes of the resource of numeric `type` and numeric `id` (its first language), a
// view into `image`; nothing when the image holds no such resource. Throws PeFormatError.
std::optional<std::string_view> find_pe_resource(std::string_view image, std::uint16_t type, std::uint16_t id);

}  // namespace korvel
