#pragma once
// Checks shared by the options of every sub-command.

#include <CLI/CLI.hpp>
#include <string>

// Refuses an empty value, a usage error. Without it `--net ""` would quietly mean
// the all-zero network, `--port ""` the default device and `--inputs ""` the sweep:
// an unset shell variable would run something the user did not ask for.
inline const CLI::Validator NonEmpty(
    [](std::string& value) -> std::string {
        return value.empty() ? std::string("an empty value is not allowed") : std::string();
    },
    "", "NONEMPTY");
