#include "cli/ci_options.h"

#include <iostream>

#include "cli/commands.h"
#include "cli/option_checks.h"

namespace {

template <typename Figures>
int WriteReports(const CommandFrame& frame, const CiOptions& options, int exitCode,
                 Figures& figures, void (*junit)(std::ostream&, const Figures&),
                 void (*json)(std::ostream&, const Figures&)) {
    figures.exitCode = exitCode;
    if (!options.junitFile.empty()) {
        const bool written = frame.WriteFile(options.junitFile, [&](std::ostream& out) {
            junit(out, figures);
            return static_cast<bool>(out);
        });
        if (!written && figures.exitCode == kExitOk) figures.exitCode = kExitFailure;
    }
    if (options.json) {
        json(std::cout, figures);
    }
    // A JSON object that did not all reach stdout fails the command there.
    return frame.Finish(figures.exitCode);
}

}  // namespace

void AddCiOptions(CLI::App& sub, CiOptions& options, bool junit) {
    if (junit) {
        AddValueOption(&sub, "--junit", options.junitFile,
                       "Also write the result as JUnit XML to FILE (replaced as a whole)")
            ->type_name("FILE");
        sub.add_flag("--force", options.force,
                     "Let --junit replace an existing file that is not a JUnit report");
    }
    sub.add_flag("--json", options.json, "Write the result as one JSON object on stdout");
}

int WriteCiReports(const CommandFrame& frame, const CiOptions& options, int exitCode,
                   ValidateFigures& figures) {
    return WriteReports(frame, options, exitCode, figures, WriteValidateJUnit, WriteValidateJson);
}

int WriteCiReports(const CommandFrame& frame, const CiOptions& options, int exitCode,
                   VerifyFigures& figures) {
    return WriteReports(frame, options, exitCode, figures, WriteVerifyJUnit, WriteVerifyJson);
}
