#pragma once
// Progress of long work on one console line, rewritten in place ("\r") at most four
// times a second: files and bytes so far, with the rate. One thread only.

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace korvel {

class ProgressLine {
public:
    // `verb` starts the line ("hashed", "checked"); `files_total` is its denominator.
    ProgressLine(std::ostream& out, std::string verb, std::uint64_t files_total);

    void add_bytes(std::uint64_t bytes);
    // Both totals at once, for work counted elsewhere; redraws at most four times a second.
    void set(std::uint64_t files_done, std::uint64_t bytes);
    void file_done();
    // Writes the final figures and ends the line.
    void finish();

private:
    void draw_now_and_then();
    void draw(bool final_line);

    std::ostream& out_;
    std::string verb_;
    std::uint64_t files_total_;
    std::uint64_t files_done_ = 0;
    std::uint64_t bytes_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point last_draw_ = start_;
    std::size_t last_width_ = 0;
};

}  // namespace korvel
