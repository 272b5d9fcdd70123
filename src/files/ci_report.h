#pragma once
// The results of validate, verify and quantize in the forms CI systems read: JUnit
// XML (Jenkins, GitLab, test-bench farms) and one JSON object for scripts. The
// figures are gathered by the command into a plain struct; the writers only format
// them, so the text report, the XML and the JSON always tell the same story.
//
// Writers take a stream; a report file is written as a whole (WriteWholeFile,
// files/replace_file.h), so a CI job never picks up half a report.
//
// They are written with the one report writer (files/report_writer.h), which keeps
// them valid whatever bytes the names in them hold.
//
// Thread rules: plain functions on caller-owned data; no shared state.

#include <array>
#include <chrono>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "files/flash_image_reader.h"
#include "files/report_writer.h"
#include "files/weight_difference.h"
#include "network/quantization.h"
#include "network/weights.h"

// What validate found on one output.
struct ValidateOutputFigures {
    long compared = 0;
    long mismatches = 0;  // |module - host| > tolerance
    int largest = 0;      // largest |module - host|
    double meanDiff = 0.0;
};

struct ValidateFigures {
    std::string port;
    std::string netFile;
    int tolerance = 0;
    long passes = 0;           // every pass counted, failed ones included
    long failedPasses = 0;     // passes that produced no values
    long movedPasses = 0;      // passes whose inputs moved between the readings
    std::string firstFailure;  // the status text of the first failed pass
    std::array<ValidateOutputFigures, NET_OUTPUT_COUNT> outputs{};
    double seconds = 0.0;
    std::string timestamp;  // JUnitTimestamp of the start
    int exitCode = 0;
};

struct VerifyFigures {
    std::string imageFile;
    std::string imageError;  // empty: the image is well formed
    HexFileFormat format = FORMAT_S19;
    std::string bank;
    int records = 0;
    std::string netFile;   // empty: no comparison asked for
    std::string netError;  // the net file could not be read
    std::vector<WeightDifference> differences;
    double seconds = 0.0;
    std::string timestamp;
    int exitCode = 0;
};

// The differences a JUnit failure lists in full; the JSON holds them all.
constexpr std::size_t kJUnitListedDifferences = 20;

void WriteValidateJUnit(std::ostream& out, const ValidateFigures& figures);
void WriteValidateJson(std::ostream& out, const ValidateFigures& figures);
void WriteVerifyJUnit(std::ostream& out, const VerifyFigures& figures);
void WriteVerifyJson(std::ostream& out, const VerifyFigures& figures);
// `source` says where the vectors came from: a file name, or "random" with the seed.
void WriteQuantizationJson(std::ostream& out, const std::string& netFile, const std::string& source,
                           const QuantizationReport& report);
