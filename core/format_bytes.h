#pragma once
// Byte counts as people read them, for progress lines and summaries.

#include <string>

namespace korvel {

// "512 B", "1.5 KB", "1.0 MB" ... up to TB; "." as decimal point whatever the locale.
std::string format_bytes(double bytes);

// The same with the binary units' own names, "512 B", "1.5 KiB", "1.0 MiB" ..., for the
// operators' tool, whose readers compare them with other tools' figures.
std::string format_binary_bytes(double bytes);

}  // namespace korvel
