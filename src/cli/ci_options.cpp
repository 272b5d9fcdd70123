#include "cli/ci_options.h"

#include <iostream>

#include "cli/commands.h"
#include "cli/option_checks.h"

namespace {

template <typename Figures>
int WriteReports(const CiOptions& options, int exitCode, Figures& figures,
                 void (*junit)(std::ostream&, const Figures&),
                 void (*json)(std::ostream&, const Figures&)) {
    figures.exitCode = exitCode;
    if (!options.junitFile.empty()) {
        const FileResult written =
            WriteReportFile(options.junitFile, [&](std::ostream& out) { junit(out, figures); });
        if (written != FileResult::Ok) {
            std::cerr << options.junitFile << ": " << FileResultText(written) << '\n';
            if (figures.exitCode == kExitOk) figures.exitCode = kExitFailure;
        }
    }
    if (options.json) {
        json(std::cout, figures);
        std::cout.flush();
        if (!std::cout && figures.exitCode == kExitOk) figures.exitCode = kExitFailure;
    }
    return figures.exitCode;
}

}  // namespace

void AddCiOptions(CLI::App& sub, CiOptions& options, bool junit) {
    if (junit) {
        sub.add_option("--junit", options.junitFile,
                       "Also write the result as JUnit XML to FILE (replaced as a whole)")
            ->type_name("FILE")
            ->check(NonEmpty);
        sub.add_flag("--force", options.force,
                     "Let --junit replace an existing file that is not a JUnit report");
    }
    sub.add_flag("--json", options.json, "Write the result as one JSON object on stdout");
}

int WriteCiReports(const CiOptions& options, int exitCode, ValidateFigures& figures) {
    return WriteReports(options, exitCode, figures, WriteValidateJUnit, WriteValidateJson);
}

int WriteCiReports(const CiOptions& options, int exitCode, VerifyFigures& figures) {
    return WriteReports(options, exitCode, figures, WriteVerifyJUnit, WriteVerifyJson);
}
