#include "platform/byte_ranges.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using korvel::ByteRangesParser;
using korvel::ByteRangesRefused;
using korvel::HttpRange;

namespace {

// Three ranges of a 40-byte file; the third's bytes end in all but the last character
// of the delimiter, which must wait until the byte after them shows it is data.
std::array<HttpRange, 3> const asked{{{2, 4}, {10, 3}, {30, 8}}};
std::array<std::string, 3> const truth{"cdef", "klm", "xy\r\n--SE"};

std::string part(std::string const& content_range, std::string const& data, std::string const& headers = "") {
    return "--SEP\r\nContent-Type: application/octet-stream\r\n" + headers + "Content-Range: " + content_range +
           "\r\n\r\n" + data + "\r\n";
}

std::string const p0 = part("bytes 2-5/40", truth[0]);
std::string const p1 = part("bytes 10-12/40", truth[1]);
std::string const p2 = part("bytes 30-37/40", truth[2]);
std::string const closing = "--SEP--\r\n";

// A header line that makes a part's header block (blank line included) `size` bytes long.
std::string padding_to(std::size_t size) {
    std::size_t const others = std::string("Content-Type: application/octet-stream\r\n"
                                           "Content-Range: bytes 2-5/40\r\n\r\n")
                                   .size();
    return "X-Pad: " + std::string(size - others - 9, 'p') + "\r\n";
}

enum class Outcome { accepted, refused, incomplete };

struct Fed {
    std::array<std::string, 3> delivered;
    bool refused = false;
    bool complete = false;
    std::uint64_t most_bytes = 0;
};

// Feeds `body` in slices of `slice` bytes (0: all at once).
Fed feed(std::string const& body, std::size_t slice) {
    Fed fed;
    std::size_t last_index = 0;
    ByteRangesParser parser("SEP", asked, [&](std::size_t index, char const* data, std::size_t size) {
        EXPECT_GE(index, last_index);  // parts come in the asked order
        last_index = index;
        fed.delivered.at(index).append(data, size);
    });
    fed.most_bytes = parser.most_bytes();
    try {
        for (std::size_t at = 0; at < body.size();) {
            std::size_t const n = slice ? std::min(slice, body.size() - at) : body.size();
            parser.feed(body.data() + at, n);
            at += n;
        }
    } catch (ByteRangesRefused const&) {
        fed.refused = true;
    }
    fed.complete = parser.complete();
    return fed;
}

}  // namespace

TEST(ByteRanges, BodiesAreAcceptedOnlyWhenExactlyAsAsked) {
    struct Case {
        char const* name;
        std::string body;
        Outcome outcome;
    };
    Case const cases[] = {
        {"CRLF before the first delimiter and after the closing one", "\r\n" + p0 + p1 + p2 + closing,
         Outcome::accepted},
        {"no preamble, closing delimiter ends the body", p0 + p1 + p2 + "--SEP--", Outcome::accepted},
        {"unknown total, other headers, names in any case",
         "--SEP\r\ncontent-range:bytes 2-5/*  \r\n\r\ncdef\r\n" +
             part("bytes 10-12/*", truth[1], "X-Cache: HIT\r\n") + "--SEP\r\nCONTENT-RANGE: Bytes 30-37/40\r\n\r\n" +
             truth[2] + "\r\n" + closing,
         Outcome::accepted},
        {"header block at its limit", part("bytes 2-5/40", truth[0], padding_to(1024)) + p1 + p2 + closing,
         Outcome::accepted},

        {"header block past its limit", part("bytes 2-5/40", truth[0], padding_to(1025)) + p1 + p2 + closing,
         Outcome::refused},
        {"a single range's bytes, not multipart", "cdef", Outcome::refused},
        {"preamble text", "This is a multipart message\r\n" + p0 + p1 + p2 + closing, Outcome::refused},
        {"two empty lines before the first delimiter", "\r\n\r\n" + p0 + p1 + p2 + closing, Outcome::refused},
        {"another boundary", "--SEQ\r\nContent-Range: bytes 2-5/40\r\n\r\ncdef\r\n" + p1 + p2 + closing,
         Outcome::refused},
        {"padding after a delimiter", "--SEP \r\nContent-Range: bytes 2-5/40\r\n\r\ncdef\r\n" + p1 + p2 + closing,
         Outcome::refused},
        {"bare LF line ends", "--SEP\nContent-Range: bytes 2-5/40\n\ncdef\n--SEP--\n", Outcome::refused},
        {"part one byte short", part("bytes 2-5/40", "cde") + p1 + p2 + closing, Outcome::refused},
        {"part one byte long", part("bytes 2-5/40", "cdefg") + p1 + p2 + closing, Outcome::refused},
        // Its range's length ends inside the delimiter after it, with the very bytes asked.
        {"part short by all but one byte of the delimiter", p0 + p1 + part("bytes 30-37/40", "xy") + closing,
         Outcome::refused},
        {"delimiter inside a part", p0 + p1 + part("bytes 30-37/40", "x") + part("bytes 30-37/40", truth[2]) +
                                        closing,
         Outcome::refused},
        {"parts reordered", p1 + p0 + p2 + closing, Outcome::refused},
        {"parts coalesced", part("bytes 2-12/40", "cdefghijklm") + p2 + closing, Outcome::refused},
        {"part missing", p0 + p1 + closing, Outcome::refused},
        {"extra part", p0 + p1 + p2 + part("bytes 39-39/40", "z") + closing, Outcome::refused},
        {"closing delimiter before any part", "\r\n" + closing, Outcome::refused},
        {"bytes after the closing delimiter", p0 + p1 + p2 + closing + "x", Outcome::refused},
        {"two line ends after the closing delimiter", p0 + p1 + p2 + closing + "\r\n", Outcome::refused},
        {"part without Content-Range", "--SEP\r\nContent-Type: text/plain\r\n\r\ncdef\r\n" + p1 + p2 + closing,
         Outcome::refused},
        {"two Content-Range headers", part("bytes 2-5/40", truth[0], "Content-Range: bytes 2-5/40\r\n") + p1 + p2 +
                                          closing,
         Outcome::refused},
        {"folded header", part("bytes 2-5/40", truth[0], "X-Long: a\r\n b\r\n") + p1 + p2 + closing,
         Outcome::refused},
        {"header without a colon", part("bytes 2-5/40", truth[0], "Content Type x\r\n") + p1 + p2 + closing,
         Outcome::refused},
        {"Content-Range without a total", part("bytes 2-5", truth[0]) + p1 + p2 + closing, Outcome::refused},
        {"Content-Range with trailing text", part("bytes 2-5/40 x", truth[0]) + p1 + p2 + closing,
         Outcome::refused},
        {"Content-Range in another form", part("bytes=2-5/40", truth[0]) + p1 + p2 + closing, Outcome::refused},
        {"total inside the range", part("bytes 2-5/5", truth[0]) + p1 + p2 + closing, Outcome::refused},
        {"totals that differ", p0 + part("bytes 10-12/41", truth[1]) + p2 + closing, Outcome::refused},

        {"empty body", "", Outcome::incomplete},
        {"ends inside a part's data", p0 + p1 + p2.substr(0, p2.size() - 5), Outcome::incomplete},
        {"ends before the closing delimiter", p0 + p1 + p2, Outcome::incomplete},
        {"ends inside the closing delimiter", p0 + p1 + p2 + "--SEP-", Outcome::incomplete},
    };
    for (Case const& c : cases) {
        for (std::size_t const slice : {0, 1, 2, 3, 7, 64}) {
            SCOPED_TRACE(std::string(c.name) + ", slices of " + std::to_string(slice));
            Fed const fed = feed(c.body, slice);
            EXPECT_EQ(fed.refused, c.outcome == Outcome::refused);
            if (!fed.refused) {
                EXPECT_EQ(fed.complete, c.outcome == Outcome::accepted);
            }
            for (std::size_t i = 0; i < truth.size(); ++i) {
                // What reached the sink before a refusal or a break is true.
                EXPECT_TRUE(truth[i].starts_with(fed.delivered[i])) << i << ": " << fed.delivered[i];
                if (c.outcome == Outcome::accepted) {
                    EXPECT_EQ(fed.delivered[i], truth[i]);
                }
            }
            if (c.outcome == Outcome::accepted) {
                EXPECT_LE(c.body.size(), fed.most_bytes);
            }
        }
    }
}

TEST(ByteRanges, BoundaryIsReadStrictlyFromTheContentType) {
    std::string const seventy(70, 'b');
    struct Case {
        std::string content_type;
        std::optional<std::string> boundary;
    };
    Case const cases[] = {
        {"multipart/byteranges; boundary=3d6b6a416f9b5", "3d6b6a416f9b5"},
        {"Multipart/ByteRanges;BOUNDARY=\"a b:c=d?\"", "a b:c=d?"},
        {"multipart/byteranges; charset=x; ;boundary=\"a\\b\" ", "ab"},
        {"multipart/byteranges; boundary=" + seventy, seventy},
        {"multipart/byteranges; boundary=" + seventy + "b", std::nullopt},
        {"multipart/byteranges; boundary=\"\"", std::nullopt},
        {"multipart/byteranges; boundary=\"ends in a space \"", std::nullopt},
        {"multipart/byteranges; boundary=a*b", std::nullopt},  // a token, but not a boundary
        {"multipart/byteranges; boundary=\"a\\\"b\"", std::nullopt},
        {"multipart/byteranges; boundary=\"open", std::nullopt},
        {"multipart/byteranges; boundary = x", std::nullopt},
        {"multipart/byteranges; boundary=x; boundary=y", std::nullopt},
        {"multipart/byteranges; boundary=x; flag", std::nullopt},
        {"multipart/byteranges", std::nullopt},
        {"multipart/mixed; boundary=x", std::nullopt},
        {"application/octet-stream", std::nullopt},
        {"multipart/byterangesx; boundary=x", std::nullopt},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.content_type);
        EXPECT_EQ(korvel::byteranges_boundary(c.content_type), c.boundary);
    }
}

TEST(ByteRanges, AskedRangesMustBeFewAscendingAndApart) {
    std::vector<HttpRange> const good{{0, 4}, {5, 2}, {100, 1}};
    EXPECT_EQ(korvel::range_header_value(good), "bytes=0-3,5-6,100-100");
    EXPECT_NO_THROW(korvel::check_asked_ranges(good));
    EXPECT_NO_THROW(korvel::check_asked_ranges(std::vector<HttpRange>{{UINT64_MAX, 1}}));
    std::vector<HttpRange> most;
    for (std::uint64_t i = 0; i < korvel::http_most_ranges; ++i) most.push_back({i * 10, 5});
    EXPECT_NO_THROW(korvel::check_asked_ranges(most));
    most.push_back({most.back().first + 10, 5});

    std::vector<HttpRange> const bad[] = {
        {},
        most,
        {{0, 4}, {10, 0}},
        {{UINT64_MAX, 2}},
        {{10, 2}, {0, 4}},
        {{0, 4}, {3, 4}},
        {{0, 4}, {4, 4}},  // touching: a server may send one part for both
    };
    for (std::vector<HttpRange> const& ranges : bad) {
        SCOPED_TRACE(ranges.size());
        EXPECT_THROW(korvel::check_asked_ranges(ranges), std::invalid_argument);
    }
}
