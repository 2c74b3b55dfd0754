// Checks of numeric command-line options for vorexctl and vorex-sim, with
// messages a user can read ("--idle: must be more than 0, not -1"). CLI11's
// own number ranges name the limits of a double in theirs.
#ifndef VOREXCTL_OPTION_CHECKS_H
#define VOREXCTL_OPTION_CHECKS_H

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace vorexctl {

// A number from `low` to `high` (each included when told), written whole
// when `whole`. The description in --help is `name`.
inline CLI::Validator number_check(const char* name, double low, bool low_included, double high, bool whole) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            char* end = nullptr;
            errno = 0;
            const double value = std::strtod(text.c_str(), &end);
            const bool number = !text.empty() && *end == '\0' && errno == 0 && std::isfinite(value);
            const bool in_range = number && (low_included ? value >= low : value > low) && value <= high &&
                                  (!whole || value == std::floor(value));
            if (in_range) return "";
            std::string wanted = whole ? "a whole number " : "a number ";
            if (std::isinf(high)) wanted += low_included ? "of " + CLI::detail::to_string(low) + " or more"
                                                         : "more than " + CLI::detail::to_string(low);
            else wanted += "from " + CLI::detail::to_string(low) + " to " + CLI::detail::to_string(high);
            return "must be " + wanted + ", not " + text;
        },
        name);
}

inline CLI::Validator non_negative_number() { return number_check("NUMBER >= 0", 0, true, HUGE_VAL, false); }
inline CLI::Validator positive_number() { return number_check("NUMBER > 0", 0, false, HUGE_VAL, false); }
inline CLI::Validator non_negative_count() { return number_check("COUNT >= 0", 0, true, HUGE_VAL, true); }
inline CLI::Validator whole_range(const char* name, double low, double high) {
    return number_check(name, low, true, high, true);
}
inline CLI::Validator number_range(const char* name, double low, double high) {
    return number_check(name, low, true, high, false);
}

}  // namespace vorexctl

#endif
