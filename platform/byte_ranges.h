#pragma once
// The body of a 206 answer that carries several byte ranges (multipart/byteranges), read
// as it arrives and held to exactly the ranges that were asked for. Pure: no network,
// fed whatever slices of the body the transfer happens to deliver.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Bytes [first, first + length) of a file.
struct HttpRange {
    std::uint64_t first = 0;
    std::uint64_t length = 0;  // > 0
};

// The most ranges one request asks for: the Range line stays well below the 8 KiB that
// common servers accept for one header line.
inline constexpr std::size_t http_most_ranges = 64;

// Throws std::invalid_argument unless `ranges` holds 1..http_most_ranges non-empty ranges
// that end inside 64 bits, in ascending order, neither overlapping nor touching (a server
// may merge touching ranges into one part, which could then not be told apart).
void check_asked_ranges(std::span<HttpRange const> ranges);

// The "bytes=a-b,c-d" value of a Range header asking for `ranges`.
std::string range_header_value(std::span<HttpRange const> ranges);

// The boundary of a Content-Type value "multipart/byteranges; boundary=...", the
// parameter a token or a quoted-string of 1..70 of the characters a MIME boundary may
// hold (not ending in a space); nothing for any other type or a missing, repeated or
// malformed boundary.
std::optional<std::string> byteranges_boundary(std::string_view content_type);

// An answer that is not, byte for byte, the asked ranges in multipart/byteranges form.
class ByteRangesRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most bytes of one part's header block, the blank line included: Content-Range and
// Content-Type take well under 200 bytes.
inline constexpr std::size_t byteranges_most_header_bytes = 1024;

// Reads one multipart/byteranges body. The parts must come in the asked order, one per
// asked range, each with a Content-Range equal to it ("bytes a-b/total", the total "*"
// or one number for all parts); other part headers are ignored. Lines end in CRLF.
// Before the first delimiter only one empty line may come, after the closing one only
// its line end. Every element has a bound, so the body never exceeds most_bytes(): a
// server cannot keep the reader busy with bytes it did not ask for.
class ByteRangesParser {
public:
    // (the range's position in `ranges`, bytes of it), each range's bytes in order.
    using Sink = std::function<void(std::size_t, char const*, std::size_t)>;

    // `ranges` as check_asked_ranges wants them (else std::invalid_argument); they are
    // copied. `boundary` as byteranges_boundary gives it.
    ByteRangesParser(std::string boundary, std::span<HttpRange const> ranges, Sink sink);

    // Hands the data of the parts to the sink and throws ByteRangesRefused as soon as the
    // body departs from the asked form. The sink's own exceptions pass through. A byte
    // goes to the sink only once it is known not to begin a delimiter (which may not
    // occur inside a part), so a part shorter than its Content-Range gives away nothing
    // that came after its own bytes.
    void feed(char const* data, std::size_t size);

    // Whether the body so far is whole: every part, then the closing delimiter.
    bool complete() const;

    // The longest body that could still be accepted.
    std::uint64_t most_bytes() const;

private:
    // opening: up to the first "--boundary" line; headers: a part's header block; data:
    // its bytes and the CRLF "--boundary" after them; boundary_end: the rest of that line,
    // CRLF before another part or "--" after the last.
    enum class Stage { opening, headers, data, boundary_end, closed };

    void start(Stage stage);
    void feed_data(char const*& data, std::size_t& size);
    void release(char const* data, std::size_t size);
    bool could_end_well() const;
    void end_line();
    void end_of_headers();
    void header_line();
    [[noreturn]] void refuse(std::string const& what) const;

    std::string delimiter_;  // CRLF "--" boundary
    std::vector<HttpRange> ranges_;
    Sink sink_;
    Stage stage_ = Stage::opening;
    std::size_t part_ = 0;         // the part being read, or the number of parts read
    std::uint64_t position_ = 0;   // bytes of the part's data and delimiter seen
    std::size_t matched_ = 0;      // trailing data bytes held back: the delimiter's first ones
    std::size_t budget_ = 0;       // bytes the current line-based element may still take
    std::string line_;             // the line being read, without its end
    bool blank_opening_ = false;   // the one empty line before the first delimiter came
    std::optional<std::string> content_range_;  // of the part whose headers are being read
    std::optional<std::uint64_t> total_;        // the whole length the parts named
};

}  // namespace korvel
