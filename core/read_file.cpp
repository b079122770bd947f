#include "core/read_file.h"

#include <array>
#include <fstream>

namespace korvel {

std::optional<std::string> read_whole_file(std::filesystem::path const& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes;
    std::array<char, 65536> buffer;
    do {
        in.read(buffer.data(), buffer.size());
        bytes.append(buffer.data(), static_cast<std::size_t>(in.gcount()));
    } while (in);
    if (in.bad()) return std::nullopt;
    return bytes;
}

}  // namespace korvel
