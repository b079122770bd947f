// The PE resource reader on made-up images broken one field at a time, and on the real
// launcher cut short at every length that matters: each answer is the resource, "none",
// or a refusal that says what is wrong, never a read past the bytes given.
#include "core/pe_resource.h"

#include "core/release_keys_resource.h"
#include "tests/support/error_text.h"
#include "tests/support/pe_image.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using korvel::find_pe_resource;
using korvel::PeFormatError;
using korvel::test::error_text;
using korvel::test::PeImage;
using korvel::test::put_u16;
using korvel::test::put_u32;

namespace {

constexpr std::uint16_t rcdata = 10;
constexpr std::uint16_t id = KORVEL_RELEASE_KEYS_RESOURCE;
std::string const data = "korvel-release-keys 1\n";

// What the reader answers: the resource's bytes, "none", or its refusal.
std::string answer(std::string const& image, std::uint16_t type = rcdata, std::uint16_t wanted = id) {
    std::string found;
    std::string const error = error_text([&] {
        std::optional<std::string_view> const resource = find_pe_resource(image, type, wanted);
        found = resource ? std::string(*resource) : "none";
    });
    return error == "(no exception)" ? found : "refused: " + error;
}

std::string outside(char const* what, char const* where = "the file") {
    return std::string("refused: truncated or damaged: ") + what + " lies outside " + where;
}

}  // namespace

TEST(PeResource, MadeUpImagesBrokenOneFieldAtATime) {
    struct Case {
        char const* name;
        std::function<void(PeImage&)> change;
        std::string expected;
    };
    std::vector<Case> const cases = {
        {"intact", [](PeImage&) {}, data},
        {"empty file", [](PeImage& p) { p.bytes.clear(); }, outside("the DOS header")},
        {"only MZ", [](PeImage& p) { p.bytes.resize(2); }, outside("the DOS header")},
        {"no MZ", [](PeImage& p) { p.bytes[0] = 'Z'; }, "refused: not a Windows program: no MZ header"},
        {"PE header far past the end", [](PeImage& p) { put_u32(p.bytes, p.pe_offset, 0xfffffff0u); },
         outside("the PE header")},
        {"no PE signature", [](PeImage& p) { p.bytes[0x41] = 'X'; }, "refused: not a Windows program: no PE signature"},
        {"cut in the section table", [](PeImage& p) { p.bytes.resize(p.magic + 240 + 20); }, outside("the section table")},
        {"65535 sections", [](PeImage& p) { put_u16(p.bytes, p.section_count, 0xffff); }, outside("the section table")},
        {"optional header larger than the file", [](PeImage& p) { put_u16(p.bytes, p.optional_size, 0xffff); },
         outside("the optional header")},
        {"optional header of 1 byte", [](PeImage& p) { put_u16(p.bytes, p.optional_size, 1); },
         outside("the magic number", "the optional header")},
        {"unknown optional header", [](PeImage& p) { put_u16(p.bytes, p.magic, 0x107); },
         "refused: not a Windows program: unknown optional header"},
        {"data directories end before the resource table", [](PeImage& p) { put_u32(p.bytes, p.directory_count, 2); },
         "none"},
        {"optional header ends before the resource table", [](PeImage& p) { put_u16(p.bytes, p.optional_size, 120); },
         outside("the resource table's entry", "the optional header")},
        {"no resource table", [](PeImage& p) { put_u32(p.bytes, p.resource_address, 0); }, "none"},
        {"resource table in no section", [](PeImage& p) { put_u32(p.bytes, p.resource_address, 0x5000); },
         "refused: truncated or damaged: the resource table lies in no section of the file"},
        {"resource table larger than its section",
         [](PeImage& p) { put_u32(p.bytes, p.resource_address + 4, 0xffffff00u); },
         "refused: truncated or damaged: the resource table runs past the end of its section"},
        {"section bytes far past the end", [](PeImage& p) { put_u32(p.bytes, p.section_raw_offset, 0x7ffffff0u); },
         outside("the resource table")},
        {"cut inside the resource data", [](PeImage& p) { p.bytes.resize(p.data + 3); }, outside("the resource table")},
        {"section shorter in memory than the table",
         [](PeImage& p) { put_u32(p.bytes, p.section_virtual_size, 0x20); },
         "refused: truncated or damaged: the resource table runs past the end of its section"},
        {"65535 types", [](PeImage& p) { put_u16(p.bytes, p.root_directory + 14, 0xffff); },
         outside("a resource directory's entries", "the resource table")},
        {"type entry leads far away", [](PeImage& p) { put_u32(p.bytes, p.type_entry, 0xfffffff0u); },
         outside("a resource directory", "the resource table")},
        {"type entry names data", [](PeImage& p) { put_u32(p.bytes, p.type_entry, 0x48); },
         "refused: damaged: a resource directory entry names data, not a directory"},
        {"type entry leads back to the root", [](PeImage& p) { put_u32(p.bytes, p.type_entry, 0x80000000u); }, "none"},
        {"name entry leads back to the root", [](PeImage& p) { put_u32(p.bytes, p.name_entry, 0x80000000u); },
         "refused: damaged: a resource's language entry names a directory, not data"},
        {"language entry names a directory", [](PeImage& p) { put_u32(p.bytes, p.language_entry, 0x80000018u); },
         "refused: damaged: a resource's language entry names a directory, not data"},
        {"language entry leads far away", [](PeImage& p) { put_u32(p.bytes, p.language_entry, 0x7ffffff0u); },
         outside("a resource data entry", "the resource table")},
        {"data in no section", [](PeImage& p) { put_u32(p.bytes, p.data_entry, 0x9000); },
         "refused: truncated or damaged: a resource's data lies in no section of the file"},
        {"data larger than its section", [](PeImage& p) { put_u32(p.bytes, p.data_entry + 4, 0xffffffffu); },
         "refused: truncated or damaged: a resource's data runs past the end of its section"},
        {"another resource id only", [](PeImage& p) { put_u32(p.bytes, p.name_entry - 4, id + 1); }, "none"},
        {"another type only", [](PeImage& p) { put_u32(p.bytes, p.type_entry - 4, 3); }, "none"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        PeImage image = korvel::test::make_pe_image(rcdata, id, data);
        c.change(image);
        EXPECT_EQ(answer(image.bytes), c.expected);
    }
    EXPECT_EQ(answer(korvel::test::make_pe_image(rcdata, id, data, true).bytes), data) << "a PE32 image";
}

// The launcher the build makes holds the record the build wrote; cut anywhere, it is
// refused or still read whole, and the cut never reaches past what was given.
TEST(PeResource, RealLauncherCutShort) {
    namespace test = korvel::test;
    std::string const launcher = test::read_file(test::build_dir() / "bin" / "davari.exe");
    std::string const record = test::read_file(test::build_dir() / "resources" / "davari.release-keys");
    std::optional<std::string_view> const found = find_pe_resource(launcher, rcdata, id);
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, record);
    EXPECT_EQ(answer(launcher, rcdata, id + 1), "none");
    std::size_t const record_at = static_cast<std::size_t>(found->data() - launcher.data());
    std::vector<std::size_t> cuts = {0, 1, 63, 64, 0x80, 0x100, 0x200, 0x400, record_at, record_at + 1,
                                     record_at + record.size() - 1, record_at + record.size()};
    for (std::size_t cut = 0; cut < launcher.size(); cut += 4093) cuts.push_back(cut);
    for (std::size_t const cut : cuts) {
        SCOPED_TRACE(cut);
        // A copy of exactly `cut` bytes: a read past it would be a read past the buffer.
        std::string const part = launcher.substr(0, cut);
        std::string const got = answer(part);
        if (got.starts_with("refused: ")) {
            EXPECT_NE(got.find(" lies outside the file"), std::string::npos) << got;
        } else {
            EXPECT_EQ(got, record);
            EXPECT_GE(cut, record_at + record.size());
        }
    }
}
