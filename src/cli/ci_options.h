#pragma once
// --junit FILE and --json, shared by validate, verify and quantize: declaring the
// options and writing the reports once a command has gathered its figures.

#include <CLI/CLI.hpp>
#include <string>

#include "cli/command_frame.h"
#include "files/ci_report.h"

struct CiOptions {
    std::string junitFile;  // empty: no JUnit report
    bool json = false;      // stdout holds one JSON object instead of the text
    bool force = false;     // --force: the JUnit file may replace a file of another kind
};

// Adds --json, and --junit FILE and --force when `junit` is set.
void AddCiOptions(CLI::App& sub, CiOptions& options, bool junit);

// Writes the JUnit file (replaced as a whole), then the JSON object on stdout, and
// returns the command's exit code. The exit code recorded in the figures and
// returned is `exitCode`, or kExitFailure when it was success and the JUnit file
// could not be written: a CI job must not pass on a report that never came.
// Failures are told through `frame`.
[[nodiscard]] int WriteCiReports(const CommandFrame& frame, const CiOptions& options, int exitCode,
                                 ValidateFigures& figures);
[[nodiscard]] int WriteCiReports(const CommandFrame& frame, const CiOptions& options, int exitCode,
                                 VerifyFigures& figures);
