#include "platform/byte_ranges.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace korvel {

namespace {

// A MIME boundary's length (RFC 2046).
constexpr std::size_t most_boundary_chars = 70;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_alpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_token_char(char c) {
    return is_digit(c) || is_alpha(c) || (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c));
}

bool is_boundary_char(char c) {
    return is_digit(c) || is_alpha(c) || c == ' ' || (c != '\0' && std::strchr("'()+_,-./:=?", c));
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_text(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lower(x) == lower(y);
           });
}

bool is_ows(char c) {
    return c == ' ' || c == '\t';
}

void skip_ows(std::string_view text, std::size_t& i) {
    while (i < text.size() && is_ows(text[i])) ++i;
}

std::string_view token_at(std::string_view text, std::size_t& i) {
    std::size_t const first = i;
    while (i < text.size() && is_token_char(text[i])) ++i;
    return text.substr(first, i - first);
}

// The quoted-string at `i` (on its opening quote) without quotes and escapes, `i` left
// after it; nothing when it is malformed or unterminated.
std::optional<std::string> quoted_at(std::string_view text, std::size_t& i) {
    auto const is_text = [](unsigned char c) { return c == '\t' || (c >= 0x20 && c != 0x7f); };
    std::string value;
    for (++i; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"') {
            ++i;
            return value;
        }
        if (c == '\\') {
            if (++i == text.size()) return std::nullopt;
            c = static_cast<unsigned char>(text[i]);
        }
        if (!is_text(c)) return std::nullopt;
        value += static_cast<char>(c);
    }
    return std::nullopt;
}

// The decimal number at `i`, `i` left after it; nothing without digits or past 64 bits.
std::optional<std::uint64_t> number_at(std::string_view text, std::size_t& i) {
    std::size_t const first = i;
    std::uint64_t value = 0;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        std::uint64_t const digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (i == first) return std::nullopt;
    return value;
}

std::uint64_t last_of(HttpRange const& range) {
    return range.first + (range.length - 1);
}

std::uint64_t add_capped(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

}  // namespace

void check_asked_ranges(std::span<HttpRange const> ranges) {
    if (ranges.empty() || ranges.size() > http_most_ranges)
        throw std::invalid_argument("Between 1 and " + std::to_string(http_most_ranges) + " ranges can be asked for");
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        HttpRange const& range = ranges[i];
        if (range.length == 0 || range.length - 1 > UINT64_MAX - range.first)
            throw std::invalid_argument("Empty or overflowing byte range");
        // Touching ranges are refused too: a server may serve them merged into one part.
        if (i > 0 && (range.first <= last_of(ranges[i - 1]) || range.first - last_of(ranges[i - 1]) < 2))
            throw std::invalid_argument("Byte ranges out of order, overlapping or touching");
    }
}

std::string range_header_value(std::span<HttpRange const> ranges) {
    std::string value = "bytes=";
    for (HttpRange const& range : ranges) {
        if (value.size() > 6) value += ',';
        value += std::to_string(range.first) + '-' + std::to_string(last_of(range));
    }
    return value;
}

std::optional<std::string> byteranges_boundary(std::string_view content_type) {
    std::size_t i = 0;
    skip_ows(content_type, i);
    if (!same_text(token_at(content_type, i), "multipart") || i == content_type.size() || content_type[i] != '/')
        return std::nullopt;
    ++i;
    if (!same_text(token_at(content_type, i), "byteranges")) return std::nullopt;
    std::optional<std::string> boundary;
    for (;;) {
        skip_ows(content_type, i);
        if (i == content_type.size()) break;
        if (content_type[i] != ';') return std::nullopt;
        ++i;
        skip_ows(content_type, i);
        if (i == content_type.size() || content_type[i] == ';') continue;
        std::string_view const name = token_at(content_type, i);
        if (name.empty() || i == content_type.size() || content_type[i] != '=') return std::nullopt;
        ++i;
        std::optional<std::string> value;
        if (i < content_type.size() && content_type[i] == '"') {
            value = quoted_at(content_type, i);
        } else if (std::string_view const token = token_at(content_type, i); !token.empty()) {
            value = std::string(token);
        }
        if (!value) return std::nullopt;
        if (same_text(name, "boundary")) {
            if (boundary) return std::nullopt;  // two boundaries: which one the parts use is a guess
            boundary = std::move(value);
        }
    }
    if (!boundary || boundary->empty() || boundary->size() > most_boundary_chars || boundary->back() == ' ' ||
        !std::all_of(boundary->begin(), boundary->end(), is_boundary_char))
        return std::nullopt;
    return boundary;
}

ByteRangesParser::ByteRangesParser(std::string boundary, std::span<HttpRange const> ranges, Sink sink)
    : delimiter_("\r\n--" + boundary), ranges_(ranges.begin(), ranges.end()), sink_(std::move(sink)) {
    check_asked_ranges(ranges);
    if (boundary.empty() || boundary.size() > most_boundary_chars ||
        boundary.find_first_of("\r\n") != std::string::npos)
        throw std::invalid_argument("Multipart boundary of 1 to 70 characters expected");
    start(Stage::opening);
}

// What each line-based element may take: an optional empty line and the first
// "--boundary" line; a part's header block; the rest of a delimiter line ("--" CRLF).
void ByteRangesParser::start(Stage stage) {
    stage_ = stage;
    line_.clear();
    position_ = 0;
    matched_ = 0;
    switch (stage) {
    case Stage::opening:
        budget_ = delimiter_.size() + 2;
        break;
    case Stage::headers:
        budget_ = byteranges_most_header_bytes;
        break;
    case Stage::boundary_end:
        budget_ = 4;
        break;
    case Stage::data:
    case Stage::closed:
        budget_ = 0;
        break;
    }
}

std::uint64_t ByteRangesParser::most_bytes() const {
    std::uint64_t most = delimiter_.size() + 2;
    for (HttpRange const& range : ranges_)
        most = add_capped(most, add_capped(range.length, byteranges_most_header_bytes + delimiter_.size() + 4));
    return most;
}

bool ByteRangesParser::complete() const {
    // The closing delimiter may end the body without a line end of its own.
    return stage_ == Stage::closed || (stage_ == Stage::boundary_end && part_ == ranges_.size() && line_ == "--");
}

void ByteRangesParser::refuse(std::string const& what) const {
    throw ByteRangesRefused("Multipart byte ranges: " + what);
}

void ByteRangesParser::release(char const* data, std::size_t size) {
    if (size > 0) sink_(part_, data, size);
}

void ByteRangesParser::feed(char const* data, std::size_t size) {
    while (size > 0) {
        if (stage_ == Stage::data) {
            feed_data(data, size);
            continue;
        }
        if (stage_ == Stage::closed) refuse("bytes after the closing delimiter");
        if (budget_ == 0) refuse(stage_ == Stage::headers ? "part header too long" : "delimiter expected");
        --budget_;
        char const c = *data++;
        --size;
        if (c != '\n') {
            line_ += c;
            if (!could_end_well())
                refuse(stage_ == Stage::opening ? "preamble before the first part" : "delimiter expected");
            continue;
        }
        // CRLF only: with a bare LF accepted too, a part one byte short whose CR was taken
        // for its last data byte would still seem to end in a line end.
        if (line_.empty() || line_.back() != '\r') refuse("line end without CR");
        line_.pop_back();
        end_line();
        line_.clear();
    }
}

// The part's bytes must be followed by the delimiter and must not hold it. The delimiter
// begins with the only CR it has, so a partial match that fails can restart only at a CR;
// the bytes of a partial match are held back (they are the delimiter's first ones, so
// they need no copy) until a byte shows that they are data.
void ByteRangesParser::feed_data(char const*& data, std::size_t& size) {
    std::uint64_t const length = ranges_[part_].length;
    while (size > 0 && position_ < length) {
        if (matched_ == 0) {
            // Runs without a CR go straight to the sink.
            std::size_t const window = static_cast<std::size_t>(std::min<std::uint64_t>(size, length - position_));
            void const* const cr = std::memchr(data, '\r', window);
            std::size_t const plain = cr ? static_cast<std::size_t>(static_cast<char const*>(cr) - data) : window;
            release(data, plain);
            data += plain;
            size -= plain;
            position_ += plain;
            if (!cr) continue;
        }
        char const c = *data;
        if (c == delimiter_[matched_]) {
            if (++matched_ == delimiter_.size()) refuse("delimiter inside a part");
        } else {
            release(delimiter_.data(), matched_);
            matched_ = 0;
            if (c == '\r') {
                matched_ = 1;
            } else {
                release(data, 1);
            }
        }
        ++data;
        --size;
        ++position_;
    }
    while (size > 0) {
        std::size_t const at = static_cast<std::size_t>(position_ - length);
        // A byte that continued a match held from the data would be no CR: the part
        // stopped short of its range. The held bytes stay unsent.
        if (*data != delimiter_[at]) refuse("part not followed by a delimiter");
        if (at == 0) {
            release(delimiter_.data(), matched_);
            matched_ = 0;
        }
        ++data;
        --size;
        ++position_;
        if (at + 1 == delimiter_.size()) {
            ++part_;
            start(Stage::boundary_end);
            return;
        }
    }
}

// Whether the line so far may still become one the stage accepts; a header line may
// become anything until it ends.
bool ByteRangesParser::could_end_well() const {
    auto const begins = [this](std::string_view whole) { return whole.starts_with(line_); };
    switch (stage_) {
    case Stage::opening:
        return (!blank_opening_ && begins("\r")) || begins(delimiter_.substr(2) + '\r');
    case Stage::boundary_end:
        return begins("\r") || begins("--\r");
    default:
        return true;
    }
}

void ByteRangesParser::end_line() {
    switch (stage_) {
    case Stage::opening:
        if (line_.empty() && !blank_opening_) {
            blank_opening_ = true;
        } else if (line_ == std::string_view(delimiter_).substr(2)) {
            start(Stage::headers);
        } else {
            refuse("preamble before the first part");
        }
        return;
    case Stage::headers:
        if (line_.empty()) {
            end_of_headers();
        } else {
            header_line();
        }
        return;
    case Stage::boundary_end:
        if (line_.empty()) {
            if (part_ == ranges_.size()) refuse("more parts than ranges asked");
            start(Stage::headers);
        } else if (line_ == "--") {
            if (part_ != ranges_.size()) refuse("fewer parts than ranges asked");
            start(Stage::closed);
        } else {
            refuse("delimiter expected");
        }
        return;
    case Stage::data:
    case Stage::closed:
        return;
    }
}

// "Name: value"; only Content-Range is read, and only once.
void ByteRangesParser::header_line() {
    if (is_ows(line_.front())) refuse("folded part header");
    std::size_t i = 0;
    std::string_view const name = token_at(line_, i);
    if (name.empty() || i == line_.size() || line_[i] != ':') refuse("malformed part header");
    for (char c : line_)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
            refuse("control character in a part header");
    if (!same_text(name, "Content-Range")) return;
    if (content_range_) refuse("two Content-Range headers in a part");
    std::size_t first = i + 1;
    std::size_t last = line_.size();
    while (first < last && is_ows(line_[first])) ++first;
    while (last > first && is_ows(line_[last - 1])) --last;
    content_range_ = line_.substr(first, last - first);
}

// The part's Content-Range must name exactly the asked range: "bytes a-b/total".
void ByteRangesParser::end_of_headers() {
    if (!content_range_) refuse("part without Content-Range");
    std::string_view const text = *content_range_;
    HttpRange const& asked = ranges_[part_];
    std::size_t i = 6;
    if (!same_text(text.substr(0, i), "bytes ")) refuse("Content-Range not in bytes");
    std::optional<std::uint64_t> const first = number_at(text, i);
    if (!first || i == text.size() || text[i++] != '-') refuse("malformed Content-Range");
    std::optional<std::uint64_t> const last = number_at(text, i);
    if (!last || i == text.size() || text[i++] != '/') refuse("malformed Content-Range");
    if (*first != asked.first || *last != last_of(asked)) refuse("part for other bytes than asked");
    if (text.substr(i) != "*") {
        std::optional<std::uint64_t> const total = number_at(text, i);
        if (!total || i != text.size() || *total <= *last) refuse("malformed Content-Range");
        if (total_ && *total_ != *total) refuse("parts of files of different lengths");
        total_ = total;
    }
    content_range_.reset();
    start(Stage::data);
}

}  // namespace korvel
