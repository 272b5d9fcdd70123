#pragma once
// The one way a sub-command declares an option or argument that takes a value.
//
// Thread rules: none; used while the command line is being declared.

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

// Declares `name` (an option such as "--net" or a positional such as "IMAGE") that
// stores its value in `value`. Every option that takes a value comes through here,
// so none can forget to refuse an empty one.
template <typename T>
CLI::Option* AddValueOption(CLI::App* app, const std::string& name, T& value,
                            const std::string& help) {
    return app->add_option(name, value, help)->check(NonEmpty);
}
