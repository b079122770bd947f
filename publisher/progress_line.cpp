#include "publisher/progress_line.h"

#include "core/format_bytes.h"

#include <algorithm>
#include <cstdio>

namespace korvel {

ProgressLine::ProgressLine(std::ostream& out, std::string verb, std::uint64_t files_total)
    : out_(out), verb_(std::move(verb)), files_total_(files_total) {}

void ProgressLine::add_bytes(std::uint64_t bytes) {
    bytes_ += bytes;
}

void ProgressLine::set(std::uint64_t files_done, std::uint64_t bytes) {
    files_done_ = files_done;
    bytes_ = bytes;
    draw_now_and_then();
}

void ProgressLine::file_done() {
    ++files_done_;
    draw_now_and_then();
}

void ProgressLine::draw_now_and_then() {
    auto const now = std::chrono::steady_clock::now();
    if (now - last_draw_ >= std::chrono::milliseconds(250)) {
        last_draw_ = now;
        draw(false);
    }
}

void ProgressLine::finish() {
    draw(true);
}

void ProgressLine::draw(bool final_line) {
    double const seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::string line = verb_ + " " + std::to_string(files_done_) + "/" + std::to_string(files_total_) +
                       " files, " + format_binary_bytes(static_cast<double>(bytes_));
    if (seconds > 0.0) line += ", " + format_binary_bytes(bytes_ / seconds) + "/s";
    if (final_line) {
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, " in %.1f s", seconds);
        line += elapsed;
    }
    // Blanks over the tail of a longer previous line.
    std::size_t const width = line.size();
    line.append(last_width_ > width ? last_width_ - width : 0, ' ');
    last_width_ = width;
    out_ << '\r' << line;
    if (final_line) out_ << '\n';
    out_.flush();
}

}  // namespace korvel
