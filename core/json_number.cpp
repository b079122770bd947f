#include "core/json_number.h"

#include <cmath>
#include <limits>

namespace korvel {

std::uint64_t json_to_u64(nlohmann::json const& value) {
    if (!value.is_number_float()) return value.get<std::uint64_t>();

    double const d = std::trunc(value.get<double>());
    constexpr double two_pow_63 = 9223372036854775808.0;
    if (d >= 0.0) {
        if (d >= 2.0 * two_pow_63) return std::numeric_limits<std::uint64_t>::max();
        return static_cast<std::uint64_t>(d);
    }
    if (d < -two_pow_63) return static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::min());
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(d));
}

}  // namespace korvel
