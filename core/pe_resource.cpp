#include "core/pe_resource.h"

#include <string>
#include <utility>
#include <vector>

namespace korvel {

namespace {

// The resource table is the third entry of the optional header's data directories.
constexpr std::uint32_t resource_table_index = 2;
// A directory entry whose offset has this bit leads to a deeper directory, else to data.
constexpr std::uint32_t subdirectory_bit = 0x80000000u;

constexpr char optional_header[] = "the optional header";
constexpr char resource_table[] = "the resource table";

// `size` bytes at `offset` of `bytes` (the file, or `where` in it); offsets come from the
// file, so both are checked in 64 bits before anything is read.
std::string_view bytes_at(std::string_view bytes, std::uint64_t offset, std::uint64_t size, char const* what,
                          char const* where = "the file") {
    if (offset > bytes.size() || size > bytes.size() - offset)
        throw PeFormatError(std::string("truncated or damaged: ") + what + " lies outside " + where);
    return bytes.substr(offset, size);
}

// A little-endian number of `width` bytes at `at` of a view already checked to hold it.
std::uint32_t number(std::string_view bytes, std::size_t at, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

struct Section {
    std::uint32_t address;  // in memory (RVA)
    std::uint32_t size;     // of its bytes in the file that the image maps
    std::uint32_t offset;   // of those bytes in the file
};

class Image {
public:
    explicit Image(std::string_view file) : file_(file) {
        std::string_view const dos = bytes_at(file, 0, 64, "the DOS header");
        if (dos.substr(0, 2) != "MZ") throw PeFormatError("not a Windows program: no MZ header");
        std::uint32_t const pe = number(dos, 0x3c, 4);
        std::string_view const header = bytes_at(file, pe, 24, "the PE header");
        if (header.substr(0, 4) != std::string_view("PE\0\0", 4))
            throw PeFormatError("not a Windows program: no PE signature");
        std::uint32_t const section_count = number(header, 6, 2);
        std::uint32_t const optional_size = number(header, 20, 2);
        optional_ = bytes_at(file, std::uint64_t{pe} + 24, optional_size, "the optional header");
        std::string_view const table = bytes_at(file, std::uint64_t{pe} + 24 + optional_size,
                                                std::uint64_t{section_count} * 40, "the section table");
        for (std::uint32_t i = 0; i < section_count; ++i) {
            std::string_view const s = table.substr(i * 40, 40);
            std::uint32_t const virtual_size = number(s, 8, 4), raw_size = number(s, 16, 4);
            // Bytes past the section's size in memory are file alignment, not section.
            sections_.push_back({number(s, 12, 4), virtual_size && virtual_size < raw_size ? virtual_size : raw_size,
                                 number(s, 20, 4)});
        }
    }

    // The resource table's address and size; {0, 0} when the image declares none.
    std::pair<std::uint32_t, std::uint32_t> resource_table() const {
        std::uint32_t const magic = number(bytes_at(optional_, 0, 2, "the magic number", optional_header), 0, 2);
        std::size_t count_at = 0;
        if (magic == 0x10b)
            count_at = 92;  // PE32
        else if (magic == 0x20b)
            count_at = 108;  // PE32+
        else
            throw PeFormatError("not a Windows program: unknown optional header");
        std::string_view const count = bytes_at(optional_, count_at, 4, "the data directory count", optional_header);
        if (number(count, 0, 4) <= resource_table_index) return {0, 0};
        std::string_view const entry = bytes_at(optional_, count_at + 4 + resource_table_index * 8, 8,
                                                "the resource table's entry", optional_header);
        return {number(entry, 0, 4), number(entry, 4, 4)};
    }

    // The file's bytes at an address in memory: they must lie in one section's file bytes.
    std::string_view mapped(std::uint32_t address, std::uint32_t size, char const* what) const {
        for (Section const& s : sections_) {
            // Empty data may sit at a section's very end; anything else starts inside one.
            if (address < s.address || address - s.address > s.size || (address - s.address == s.size && size > 0))
                continue;
            if (size > s.size - (address - s.address))
                throw PeFormatError(std::string("truncated or damaged: ") + what + " runs past the end of its section");
            return bytes_at(file_, std::uint64_t{s.offset} + (address - s.address), size, what);
        }
        throw PeFormatError(std::string("truncated or damaged: ") + what + " lies in no section of the file");
    }

private:
    std::string_view file_;
    std::string_view optional_;
    std::vector<Section> sections_;
};

// The offset field of the entry for `id` in the resource directory at `offset` of the
// table, or of its first entry when `id` is not given; nothing when there is none.
std::optional<std::uint32_t> directory_entry(std::string_view table, std::uint32_t offset,
                                             std::optional<std::uint16_t> id) {
    std::string_view const header = bytes_at(table, offset, 16, "a resource directory", resource_table);
    std::uint32_t const named = number(header, 12, 2), numbered = number(header, 14, 2);
    std::string_view const entries = bytes_at(table, std::uint64_t{offset} + 16, std::uint64_t{named + numbered} * 8,
                                              "a resource directory's entries", resource_table);
    if (!id) return named + numbered ? std::optional(number(entries, 4, 4)) : std::nullopt;
    for (std::uint32_t i = named; i < named + numbered; ++i)
        if (number(entries, i * 8, 4) == *id) return number(entries, i * 8 + 4, 4);
    return std::nullopt;
}

// A subdirectory's offset in the table; a data entry where a directory belongs is damage.
std::uint32_t subdirectory(std::uint32_t entry) {
    if (!(entry & subdirectory_bit))
        throw PeFormatError("damaged: a resource directory entry names data, not a directory");
    return entry & ~subdirectory_bit;
}

}  // namespace

std::optional<std::string_view> find_pe_resource(std::string_view image, std::uint16_t type, std::uint16_t id) {
    Image const pe(image);
    auto const [address, size] = pe.resource_table();
    if (address == 0 || size == 0) return std::nullopt;
    // Every offset inside the tree is relative to the table's start and must stay in it.
    std::string_view const table = pe.mapped(address, size, resource_table);
    // Three levels: type, then name, then language. No level is followed twice, so a
    // directory that points back at itself cannot loop.
    std::optional<std::uint32_t> const by_type = directory_entry(table, 0, type);
    if (!by_type) return std::nullopt;
    std::optional<std::uint32_t> const by_name = directory_entry(table, subdirectory(*by_type), id);
    if (!by_name) return std::nullopt;
    std::optional<std::uint32_t> const language = directory_entry(table, subdirectory(*by_name), std::nullopt);
    if (!language) return std::nullopt;
    if (*language & subdirectory_bit)
        throw PeFormatError("damaged: a resource's language entry names a directory, not data");
    std::string_view const data = bytes_at(table, *language, 16, "a resource data entry", resource_table);
    return pe.mapped(number(data, 0, 4), number(data, 4, 4), "a resource's data");
}

}  // namespace korvel
