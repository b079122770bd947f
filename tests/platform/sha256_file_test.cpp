#include "core/sha256.h"
#include "platform/sha256.h"

#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <string>

using korvel::sha256_file;
namespace test = korvel::test;

namespace {

std::string portable_hash_of(std::string const& message) {
    korvel::Sha256 hash(&korvel::sha256_detail::compress_portable);
    hash.update(message.data(), message.size());
    return korvel::to_hex(hash.finalize());
}

}  // namespace

TEST(Sha256, Files) {
    test::TempDir dir("sha");
    test::write_file(dir / "empty", "");
    EXPECT_EQ(sha256_file(dir / "empty"), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    test::write_file(dir / "abc", "abc");
    EXPECT_EQ(sha256_file(dir / "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    // Exactly two read buffers: the last read returns nothing and ends the loop.
    std::string const two_mib = test::random_bytes(2 << 20, 9);
    test::write_file(dir / "two.bin", two_mib);
    EXPECT_EQ(sha256_file(dir / "two.bin"), portable_hash_of(two_mib));
    std::string const odd = two_mib + "x";
    test::write_file(dir / "odd.bin", odd);
    EXPECT_EQ(sha256_file(dir / "odd.bin"), portable_hash_of(odd));

    // Non-ASCII file name.
    test::write_file(dir / L"\u00e1rv\u00edz.bin", "abc");
    EXPECT_EQ(sha256_file(dir / L"\u00e1rv\u00edz.bin"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256, UnopenableFilesNameThePath) {
    test::TempDir dir("sha");
    for (auto const& path : {dir / "missing.bin", dir.path()}) {
        try {
            sha256_file(path);
            ADD_FAILURE() << "hashed " << path;
        } catch (std::runtime_error const& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file for SHA-256: " + path.string());
        }
    }
}
