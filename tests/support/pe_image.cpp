#include "tests/support/pe_image.h"

namespace korvel::test {

void put_u16(std::string& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xff);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void put_u32(std::string& bytes, std::size_t at, std::uint32_t value) {
    put_u16(bytes, at, static_cast<std::uint16_t>(value & 0xffff));
    put_u16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

PeImage make_pe_image(std::uint16_t type, std::uint16_t id, std::string_view data, bool pe32) {
    constexpr std::uint32_t headers_at = 0x40, section_address = 0x1000, raw_at = 0x200, file_alignment = 0x200;
    constexpr std::uint32_t subdirectory = 0x80000000u;
    PeImage pe;
    std::uint32_t const optional_size = pe32 ? 224 : 240;
    std::uint32_t const tree_size = 0x58 + static_cast<std::uint32_t>(data.size());
    std::uint32_t const raw_size = (tree_size + file_alignment - 1) / file_alignment * file_alignment;
    std::string& b = pe.bytes;
    b.assign(raw_at + raw_size, '\0');

    b.replace(0, 2, "MZ");
    put_u32(b, pe.pe_offset, headers_at);
    b.replace(headers_at, 4, std::string_view("PE\0\0", 4));
    put_u16(b, headers_at + 4, pe32 ? 0x14c : 0x8664);
    pe.section_count = headers_at + 6;
    put_u16(b, pe.section_count, 1);
    pe.optional_size = headers_at + 20;
    put_u16(b, pe.optional_size, static_cast<std::uint16_t>(optional_size));
    pe.magic = headers_at + 24;
    put_u16(b, pe.magic, pe32 ? 0x10b : 0x20b);
    pe.directory_count = pe.magic + (pe32 ? 92 : 108);
    put_u32(b, pe.directory_count, 16);
    pe.resource_address = pe.directory_count + 4 + 2 * 8;
    put_u32(b, pe.resource_address, section_address);
    put_u32(b, pe.resource_address + 4, tree_size);

    std::size_t const section = pe.magic + optional_size;
    b.replace(section, 5, ".rsrc");
    pe.section_virtual_size = section + 8;
    put_u32(b, pe.section_virtual_size, tree_size);
    put_u32(b, section + 12, section_address);
    pe.section_raw_size = section + 16;
    put_u32(b, pe.section_raw_size, raw_size);
    pe.section_raw_offset = section + 20;
    put_u32(b, pe.section_raw_offset, raw_at);

    // Three directories of one numbered entry each (type, name, language), then the data
    // entry and the data; offsets relative to the tree's start.
    auto directory = [&](std::uint32_t at, std::uint32_t entry_id, std::uint32_t target) {
        put_u16(b, raw_at + at + 14, 1);
        put_u32(b, raw_at + at + 16, entry_id);
        put_u32(b, raw_at + at + 20, target);
        return raw_at + at + 20;
    };
    pe.root_directory = raw_at;
    pe.type_entry = directory(0x00, type, subdirectory | 0x18);
    pe.name_entry = directory(0x18, id, subdirectory | 0x30);
    pe.language_entry = directory(0x30, 0x409, 0x48);
    pe.data_entry = raw_at + 0x48;
    put_u32(b, pe.data_entry, section_address + 0x58);
    put_u32(b, pe.data_entry + 4, static_cast<std::uint32_t>(data.size()));
    pe.data = raw_at + 0x58;
    b.replace(pe.data, data.size(), data);
    return pe;
}

}  // namespace korvel::test
