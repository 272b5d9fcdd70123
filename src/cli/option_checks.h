#pragma once
// The one way a sub-command declares an option or argument that takes a value.
//
// Thread rules: none; used while the command line is being declared.

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

// Refuses an empty value, a usage error. Without it `--net ""` would quietly mean
// the all-zero network, `--port ""` the default device and `--inputs ""` the sweep:
// an unset shell variable would run something the user did not ask for.
inline const CLI::Validator NonEmpty(
    [](std::string& value) -> std::string {
        return value.empty() ? std::string("an empty value is not allowed") : std::string();
    },
    "", "NONEMPTY");

// Declares `name` (an option such as "--net" or a positional such as "IMAGE") that
// stores its value in `value`. Every option that takes a value comes through here,
// so none can forget to refuse an empty one.
template <typename T>
CLI::Option* AddValueOption(CLI::App* app, const std::string& name, T& value,
                            const std::string& help) {
    return app->add_option(name, value, help)->check(NonEmpty);
}

// Numeric options: the value must be a number in the range, written out in the
// message as the user would type it. NaN, infinity, trailing text, a sign on an
// unsigned value and a value past the type's limit are refused, never rounded or
// wrapped into range (CLI11's own range checks let NaN by and print their limits
// as 300-digit numbers).

// A whole number from `low` to `high`, decimal digits with an optional minus sign.
inline CLI::Validator WholeNumberIn(long long low, std::uint64_t high) {
    const std::string range = std::to_string(low) + ".." + std::to_string(high);
    return CLI::Validator(
        [low, high, range](std::string& value) -> std::string {
            const char* first = value.data();
            const char* last = first + value.size();
            bool inRange = false;
            if (value.empty() || value[0] == '+') {
                // not a number as this tool writes them
            } else if (value[0] == '-') {
                long long v = 0;
                const auto [end, error] = std::from_chars(first, last, v);
                inRange = error == std::errc() && end == last && v >= low;
                if (error == std::errc::result_out_of_range) inRange = false;
            } else {
                std::uint64_t v = 0;
                const auto [end, error] = std::from_chars(first, last, v);
                inRange = error == std::errc() && end == last && v <= high &&
                          (low <= 0 || v >= static_cast<std::uint64_t>(low));
            }
            if (inRange) return {};
            return "must be a whole number in " + range + ": " + value;
        },
        "INT in " + range);
}

// A number from `low` to `high` (above `low` only, when `lowOpen`).
inline CLI::Validator NumberIn(double low, double high, bool lowOpen = false) {
    auto text = [](double v) {
        std::string t = std::to_string(v);
        while (!t.empty() && t.back() == '0') t.pop_back();
        if (!t.empty() && t.back() == '.') t.pop_back();
        return t;
    };
    const std::string range = (lowOpen ? "more than " + text(low) + " up to " : "") +
                              (lowOpen ? text(high) : text(low) + ".." + text(high));
    return CLI::Validator(
        [low, high, lowOpen, range](std::string& value) -> std::string {
            char* end = nullptr;
            const double v = value.empty() ? NAN : std::strtod(value.c_str(), &end);
            const bool number =
                !value.empty() && end == value.c_str() + value.size() && std::isfinite(v);
            if (number && (lowOpen ? v > low : v >= low) && v <= high) return {};
            return "must be a number, " + range + ": " + value;
        },
        "NUMBER in " + range);
}
