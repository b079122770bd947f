// Built twice: natively (native_core_tests) and for Windows (patcher_tests), so that
// the publisher and the launcher are held to the same cuts and hashes.
#include "core/chunk_index.h"
#include "core/chunker.h"
#include "core/sha256.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace korvel;

namespace {

// 1 MiB of deterministic, incompressible-looking bytes: the top byte of a 64-bit LCG.
std::string vector_input(std::size_t size = 1 << 20) {
    std::string bytes(size, '\0');
    std::uint64_t x = 0x2417;
    for (char& c : bytes) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        c = static_cast<char>(x >> 56);
    }
    return bytes;
}

std::vector<Chunk> chunks_of(std::string const& bytes, std::size_t piece, ChunkerParams const& params = {}) {
    std::vector<Chunk> out;
    Chunker chunker(params);
    ChunkFn const keep = [&](Chunk const& c, std::uint8_t const*) { out.push_back(c); };
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        chunker.feed(bytes.data() + at, std::min(piece, bytes.size() - at), keep);
    chunker.finish(keep);
    return out;
}

bool same(Chunk const& a, Chunk const& b) {
    return a.offset == b.offset && a.size == b.size && a.hash == b.hash && a.ends_coarse == b.ends_coarse;
}

}  // namespace

TEST(Chunker, CutsAndHashesOfTheVectorInput) {
    // The first fine chunks, then every chunk that ends a coarse one, with the default
    // parameters. A change here changes every published index: raise chunker_version.
    std::vector<Chunk> const expected_first = {
        {0, 1037, 0x6d176feaf4cbeb75ull, false},     {1037, 1368, 0x6d319b83de5690ffull, false},
        {2405, 1096, 0x28d7f69ce2bbb728ull, false},  {3501, 1471, 0x8d12034c3eedff0full, false},
        {4972, 1134, 0xd7c57a3f447d6f53ull, false},  {6106, 1193, 0x04eca81c44f10a0dull, false},
        {7299, 1436, 0x31f02df39c02b287ull, false},  {8735, 1416, 0x9f1569d6845ed910ull, false},
        {10151, 1412, 0x7261ccf65ed1d06eull, false}, {11563, 1196, 0x272d3b2329ee29caull, false},
        {12759, 1755, 0x3ca95220142bf462ull, false}, {14514, 1192, 0x63ad31a29a179589ull, false},
    };
    std::vector<Chunk> const expected_coarse_ends = {
        {59343, 1849, 0xff80417123687e5eull, true},   {216466, 1131, 0xa0e722d823d9641dull, true},
        {346932, 1122, 0x37f4d81e1b38b264ull, true},  {609187, 1268, 0x3b774fe29d6ce73full, true},
        {872182, 1275, 0x997fa1fe1818413eull, true},  {1003538, 1235, 0xa48f0e67664afc7aull, true},
        {1047788, 788, 0xa4f9534b10f42d44ull, true},
    };
    std::vector<Chunk> const chunks = chunks_of(vector_input(), 1 << 20);
    ASSERT_EQ(chunks.size(), 890u);
    for (std::size_t i = 0; i < expected_first.size(); ++i) EXPECT_TRUE(same(chunks[i], expected_first[i])) << i;
    std::vector<Chunk> coarse_ends;
    for (Chunk const& c : chunks)
        if (c.ends_coarse) coarse_ends.push_back(c);
    ASSERT_EQ(coarse_ends.size(), expected_coarse_ends.size());
    for (std::size_t i = 0; i < coarse_ends.size(); ++i) EXPECT_TRUE(same(coarse_ends[i], expected_coarse_ends[i])) << i;

    EXPECT_EQ(chunk_hash("", 0), 0xf865514b6bfe1073ull);
    EXPECT_EQ(chunk_hash("a", 1), 0x8eaf05aed93a83f4ull);
}

// Fed in pieces of any size, across and inside 32-byte blocks, the stream hashes as the
// whole does at once.
TEST(Chunker, HashStreamMatchesTheHashOfTheWhole) {
    std::string const input = vector_input();
    for (std::size_t size : {0, 1, 31, 32, 33, 95, 4096, 70001})
        for (std::size_t piece : {1, 7, 32, 45, 1000}) {
            ChunkHashStream stream;
            for (std::size_t at = 0; at < size; at += piece) stream.feed(input.data() + at, std::min(piece, size - at));
            EXPECT_EQ(stream.value(), chunk_hash(input.data(), size)) << size << " in pieces of " << piece;
        }
}

TEST(Chunker, IndexOfTheVectorInput) {
    std::string const input = vector_input();
    std::string const index = chunk_index_of(input.data(), input.size());
    Sha256 hash;
    hash.update(index.data(), index.size());
    EXPECT_EQ(index.size(), 7296u);
    EXPECT_EQ(to_hex(hash.finalize()), "03334fdf004528b324e71e2b8e0df0fe6f328efa071d2b38ea1146eb5d1ed55b");

    // Every coarse entry covers its fine entries, which add up to the file.
    ChunkIndexHead const head = read_chunk_index_head(index);
    EXPECT_EQ(head.file_size, input.size());
    EXPECT_EQ(head.fine_count, 890u);
    std::size_t at = head.head_size();
    std::uint64_t offset = 0;
    for (CoarseEntry const& c : head.coarse) {
        std::string_view const fine = std::string_view(index).substr(at, c.fine_count * fine_entry_size);
        EXPECT_EQ(coarse_hash_of(fine), c.hash);
        std::uint64_t size = 0;
        for (FineEntry const& f : read_fine_entries(fine)) {
            EXPECT_EQ(f.hash, fine_hash_of(chunk_hash(input.data() + offset + size, f.size)));
            size += f.size;
        }
        EXPECT_EQ(size, c.size);
        offset += size;
        at += fine.size();
    }
    EXPECT_EQ(at, index.size());
}

TEST(Chunker, CutsDoNotDependOnHowTheBytesArrive) {
    std::string const input = vector_input(300000);
    std::vector<Chunk> const whole = chunks_of(input, input.size());
    for (std::size_t piece : {1u, 7u, 4095u, 65536u}) {
        std::vector<Chunk> const pieces = chunks_of(input, piece);
        ASSERT_EQ(pieces.size(), whole.size()) << piece;
        for (std::size_t i = 0; i < whole.size(); ++i) EXPECT_TRUE(same(pieces[i], whole[i])) << piece << " " << i;
    }
}

TEST(Chunker, AnEditChangesOnlyTheChunksAroundIt) {
    std::string const input = vector_input();
    struct Edit {
        char const* name;
        std::size_t at, remove;
        std::string insert;
    };
    std::vector<Edit> const edits = {
        {"insert", 500000, 0, std::string(100, 'x')},
        {"remove", 300000, 5000, ""},
        {"overwrite", 700000, 3000, std::string(3000, 'y')},
        {"prepend", 0, 0, std::string(70000, 'z')},
    };
    std::set<std::uint64_t> known;
    for (Chunk const& c : chunks_of(input, 1 << 20)) known.insert(c.hash);
    for (Edit const& e : edits) {
        std::string edited = input;
        edited.replace(e.at, e.remove, e.insert);
        std::uint64_t unknown_bytes = 0;
        for (Chunk const& c : chunks_of(edited, 1 << 20))
            if (!known.contains(c.hash)) unknown_bytes += c.size;
        // The new bytes plus at most a couple of chunks' worth on each side.
        EXPECT_LE(unknown_bytes, e.insert.size() + 4 * ChunkerParams{}.max_size) << e.name;
    }
}

TEST(Chunker, ParameterLimits) {
    struct Case {
        ChunkerParams params;
        bool valid;
    };
    std::vector<Case> const cases = {
        {{}, true},
        {{64, 256, 1024, 1, 0, 0}, true},
        {{512, 2048, 8192, 6, 32768, 16384}, false},  // coarse_min above coarse_max
        {{512, 3000, 8192, 6, 0, 65536}, false},      // average not a power of two
        {{2048, 2048, 8192, 6, 0, 65536}, false},     // min not below the average
        {{512, 2048, 2048, 6, 0, 65536}, false},      // max not above the average
        {{512, 2048, 8192, 0, 0, 65536}, false},      // no coarse level
        {{32, 2048, 8192, 6, 0, 65536}, false},       // min too small
        {{512, 2048, 65536, 6, 0, 65536}, false},     // max too large for a fine entry
    };
    for (Case const& c : cases) EXPECT_EQ(chunker_params_valid(c.params), c.valid) << c.params.avg_size;
}

TEST(Chunker, MalformedIndexesAreRefused) {
    std::string const input = vector_input(200000);
    std::string const good = chunk_index_of(input.data(), input.size());
    ASSERT_NO_THROW(read_chunk_index_head(good));
    auto with = [&](std::size_t at, std::string const& bytes) {
        std::string copy = good;
        copy.replace(at, bytes.size(), bytes);
        return copy;
    };
    std::vector<std::pair<char const*, std::string>> const cases = {
        {"empty", ""},
        {"header cut short", good.substr(0, 40)},
        {"head cut short", good.substr(0, chunk_index_header_size + 3)},
        {"magic", with(0, "XCIX")},
        {"format", with(4, std::string("\x02\x00", 2))},
        {"chunker version", with(6, std::string("\x09\x00", 2))},
        {"average not a power of two", with(12, std::string("\x01\x08\x00\x00", 4))},
        {"file size off by one", with(32, std::string(1, static_cast<char>(good[32] + 1)))},
        {"more coarse than fine chunks", with(48, std::string("\x01\x00\x00\x00\x00\x00\x00\x00", 8))},
        {"fine count beyond the file", with(48, std::string("\xff\xff\xff\x00\x00\x00\x00\x00", 8))},
    };
    for (auto const& [name, bytes] : cases) EXPECT_THROW(read_chunk_index_head(bytes), std::runtime_error) << name;
    EXPECT_THROW(read_fine_entries(good.substr(0, 9)), std::runtime_error);
}
