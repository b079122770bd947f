#pragma once
// The texts of the bottom panel that are built from the patch counters. Pure functions,
// any thread.

#include <cstdint>
#include <string>

namespace korvel {

struct PatchProgress;

// Time left as the panel shows it: "--" when unknown (negative, beyond ten days or not a
// number), else "H ó M p", "M p S mp" or "S mp", rounded to the nearest second.
std::wstring format_eta(double eta);

// "file  •  done / total  •  speed/s  •  eta" while files download; the file part is
// left out when no file is named, and a speed of 0 shows "-".
std::wstring download_line(PatchProgress const& progress);

// The line under the progress bar: the download line in the download stage, else
// "done / total fájl" once a total is known, else empty.
std::wstring counter_line(PatchProgress const& progress);

}  // namespace korvel
