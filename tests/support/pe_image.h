#pragma once
// A minimal Windows program image as a linker lays one out: DOS header, PE header, one
// section holding a resource tree with a single resource. The PE reader's tests break one
// field of it at a time; the builder names where each field lies in the file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel::test {

struct PeImage {
    std::string bytes;
    // File offsets of the fields the reader follows.
    std::size_t pe_offset = 0x3c;         // e_lfanew
    std::size_t section_count = 0;        // in the file header
    std::size_t optional_size = 0;        // SizeOfOptionalHeader
    std::size_t magic = 0;                // of the optional header
    std::size_t directory_count = 0;      // NumberOfRvaAndSizes
    std::size_t resource_address = 0;     // the resource table's data directory: address, then size
    std::size_t section_virtual_size = 0;
    std::size_t section_raw_size = 0;     // SizeOfRawData, then PointerToRawData
    std::size_t section_raw_offset = 0;
    std::size_t root_directory = 0;       // the resource tree's first directory (type)
    std::size_t type_entry = 0;           // offset field of the root's one entry
    std::size_t name_entry = 0;           // offset field of the type directory's one entry
    std::size_t language_entry = 0;       // offset field of the name directory's one entry
    std::size_t data_entry = 0;           // the data entry: address, then size
    std::size_t data = 0;                 // the resource's bytes
};

// A PE32+ image (or PE32 with `pe32`) whose one resource of numeric `type` and `id`
// holds `data`.
PeImage make_pe_image(std::uint16_t type, std::uint16_t id, std::string_view data, bool pe32 = false);

// Little-endian numbers written over the bytes at `at`.
void put_u16(std::string& bytes, std::size_t at, std::uint16_t value);
void put_u32(std::string& bytes, std::size_t at, std::uint32_t value);

}  // namespace korvel::test
