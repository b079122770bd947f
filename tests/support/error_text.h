#pragma once
// The text a failing call leaves in its exception, for comparing whole messages.

#include <exception>
#include <string>

namespace korvel::test {

template <typename F>
std::string error_text(F&& f) {
    try {
        f();
    } catch (std::exception const& e) {
        return e.what();
    }
    return "(no exception)";
}

}  // namespace korvel::test
