#include "files/ci_report.h"

#include <cstdio>
#include <sstream>
#include <utility>

#include "files/report_writer.h"

namespace {

std::string MeanText(double mean) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.3f", mean);
    return text;
}

long Compared(const ValidateFigures& f) {
    return f.outputs[0].compared;
}

const char* Verdict(const ValidateFigures& f) {
    if (Compared(f) == 0) return "NONE";
    for (const ValidateOutputFigures& o : f.outputs) {
        if (o.mismatches > 0) return "MISMATCH";
    }
    return "MATCH";
}

std::string OutputText(const ValidateOutputFigures& o) {
    return "compared " + std::to_string(o.compared) + ", mismatches " +
           std::to_string(o.mismatches) + ", largest |diff| " + std::to_string(o.largest) +
           ", mean diff " + MeanText(o.meanDiff);
}

}  // namespace

void WriteValidateJUnit(std::ostream& out, const ValidateFigures& f) {
    std::vector<JUnitCase> cases;
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        const ValidateOutputFigures& o = f.outputs[m];
        JUnitCase c{"out" + std::to_string(m + 1)};
        if (o.compared == 0) {
            // An output never judged has not passed.
            c.result = JUnitCase::Result::Failure;
            c.type = "no verdict";
            c.message = "no pass compared";
            c.text = "no pass could be compared with the host: " + std::to_string(f.failedPasses) +
                     " failed, " + std::to_string(f.movedPasses) + " inputs moved, of " +
                     std::to_string(f.passes);
        } else if (o.mismatches > 0) {
            c.result = JUnitCase::Result::Failure;
            c.type = "mismatch";
            c.message = std::to_string(o.mismatches) + " of " + std::to_string(o.compared) +
                        " passes differ from the host by more than " + std::to_string(f.tolerance) +
                        " LSB";
            c.text = OutputText(o);
        } else {
            c.text = OutputText(o);
        }
        cases.push_back(std::move(c));
    }
    JUnitCase failed{"failed passes"};
    failed.text =
        std::to_string(f.failedPasses) + " of " + std::to_string(f.passes) + " passes failed";
    if (f.failedPasses > 0) {
        failed.result = JUnitCase::Result::Failure;
        failed.type = "link";
        failed.message = failed.text;
        failed.text += "; the first: " + f.firstFailure;
    }
    cases.push_back(std::move(failed));
    JUnitCase moved{"inputs moved"};
    moved.text = std::to_string(f.movedPasses) + " of " + std::to_string(f.passes) +
                 " passes had inputs that moved too far between the readings to be judged";
    cases.push_back(std::move(moved));
    WriteJUnit(out, "validate", f.port,
               {{"port", f.port},
                {"net", f.netFile},
                {"tolerance", std::to_string(f.tolerance)},
                {"passes", std::to_string(f.passes)},
                {"verdict", Verdict(f)}},
               cases, f.seconds, f.timestamp);
}

void WriteValidateJson(std::ostream& out, const ValidateFigures& f) {
    {
        JsonObject o(out);
        o.Text("command", "validate");
        o.Text("port", f.port);
        o.Text("net", f.netFile);
        o.Int("tolerance", f.tolerance);
        o.Int("passes", f.passes);
        o.Int("compared", Compared(f));
        o.Int("failed_passes", f.failedPasses);
        o.Int("inputs_moved", f.movedPasses);
        if (f.firstFailure.empty()) {
            o.Null("first_failure");
        } else {
            o.Text("first_failure", f.firstFailure);
        }
        std::string outputs = "[";
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            std::ostringstream one;
            {
                JsonObject e(one);
                e.Int("output", m + 1);
                e.Int("compared", f.outputs[m].compared);
                e.Int("mismatches", f.outputs[m].mismatches);
                e.Int("max_abs_diff", f.outputs[m].largest);
                e.Real("mean_diff", f.outputs[m].meanDiff);
            }
            outputs += (m ? "," : "") + one.str();
        }
        o.Raw("outputs", outputs + ']');
        o.Text("verdict", Verdict(f));
        o.Real("seconds", f.seconds);
        o.Int("exit_code", f.exitCode);
    }
    out << '\n';
}

void WriteVerifyJUnit(std::ostream& out, const VerifyFigures& f) {
    const bool readable = f.imageError.empty();
    std::vector<JUnitCase> cases;
    JUnitCase wellFormed{"well-formed"};
    if (!readable) {
        wellFormed.result = JUnitCase::Result::Failure;
        wellFormed.type = "image";
        wellFormed.message = f.imageError;
        wellFormed.text = f.imageFile + ": " + f.imageError;
    } else {
        wellFormed.text = std::to_string(f.records) + " records, " +
                          std::to_string(NET_WEIGHT_COUNT) + " weights";
    }
    cases.push_back(std::move(wellFormed));
    JUnitCase bank{"bank"}, format{"format"};
    if (readable) {
        bank.text = f.bank;
        format.text = HexFileFormatName(f.format);
    } else {
        bank.result = format.result = JUnitCase::Result::Skipped;
        bank.message = format.message = "the image could not be read";
    }
    cases.push_back(std::move(bank));
    cases.push_back(std::move(format));
    if (!f.netFile.empty()) {
        JUnitCase same{"same weights as the net"};
        if (!f.netError.empty()) {
            same.result = JUnitCase::Result::Error;
            same.type = "net";
            same.message = f.netFile + ": " + f.netError;
            same.text = same.message;
        } else if (!readable) {
            same.result = JUnitCase::Result::Skipped;
            same.message = "the image could not be read";
        } else if (!f.differences.empty()) {
            same.result = JUnitCase::Result::Failure;
            same.type = "weights";
            same.message = std::to_string(f.differences.size()) + " of " +
                           std::to_string(NET_WEIGHT_COUNT) + " weights differ from " + f.netFile;
            for (std::size_t k = 0; k < f.differences.size() && k < kJUnitListedDifferences; ++k) {
                same.text += WeightDifferenceText(f.differences[k]) + '\n';
            }
            if (f.differences.size() > kJUnitListedDifferences) {
                same.text += "... and " +
                             std::to_string(f.differences.size() - kJUnitListedDifferences) +
                             " more\n";
            }
        } else {
            same.text = "Same weights as " + f.netFile;
        }
        cases.push_back(std::move(same));
    }
    std::vector<std::pair<std::string, std::string>> properties{{"image", f.imageFile}};
    if (!f.netFile.empty()) properties.emplace_back("net", f.netFile);
    if (readable) {
        properties.emplace_back("format", HexFileFormatName(f.format));
        properties.emplace_back("bank", f.bank);
    }
    WriteJUnit(out, "verify", f.imageFile, properties, cases, f.seconds, f.timestamp);
}

void WriteVerifyJson(std::ostream& out, const VerifyFigures& f) {
    const bool readable = f.imageError.empty();
    {
        JsonObject o(out);
        o.Text("command", "verify");
        o.Text("image", f.imageFile);
        o.Bool("well_formed", readable);
        if (readable) {
            o.Null("error");
            o.Text("format", HexFileFormatName(f.format));
            o.Text("bank", f.bank);
            o.Int("records", f.records);
            o.Int("weights", NET_WEIGHT_COUNT);
        } else {
            o.Text("error", f.imageError);
        }
        if (f.netFile.empty()) {
            o.Null("net");
        } else {
            o.Text("net", f.netFile);
            if (!f.netError.empty()) o.Text("net_error", f.netError);
            if (readable && f.netError.empty()) {
                o.Bool("same_weights", f.differences.empty());
                std::string list = "[";
                for (std::size_t k = 0; k < f.differences.size(); ++k) {
                    const WeightDifference& d = f.differences[k];
                    std::ostringstream one;
                    {
                        JsonObject e(one);
                        e.Int("weight", d.index);
                        e.Text("place", WeightPlaceText(d.index));
                        e.Int("image", d.imageWeight);
                        e.Int("net", d.netWeight);
                    }
                    list += (k ? "," : "") + one.str();
                }
                o.Raw("differences", list + ']');
            }
        }
        o.Real("seconds", f.seconds);
        o.Int("exit_code", f.exitCode);
    }
    out << '\n';
}

void WriteQuantizationJson(std::ostream& out, const std::string& netFile, const std::string& source,
                           const QuantizationReport& report) {
    const auto outputJson = [](const OutputError& e) {
        std::ostringstream one;
        {
            JsonObject o(one);
            o.Int("max_abs_error", e.maxError);
            o.Real("mean_abs_error", e.meanError);
            o.Real("rmse", e.rmse);
            o.Real("share_exact", e.shareExact);
            o.Real("share_within_1", e.shareWithinOne);
        }
        return one.str();
    };
    {
        JsonObject o(out);
        o.Text("command", "quantize");
        o.Text("net", netFile);
        o.Text("vectors_from", source);
        o.Int("vectors", static_cast<long long>(report.vectors));
        std::string outputs = "[";
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            outputs += (m ? "," : "") + outputJson(report.outputs[m]);
        }
        o.Raw("outputs", outputs + ']');
        o.Raw("all", outputJson(report.all));
        std::string hidden = "[";
        for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
            std::ostringstream one;
            {
                JsonObject h(one);
                h.Real("share_saturated", report.hidden[j].shareSaturated);
                h.Real("share_differing", report.hidden[j].shareDiffering);
            }
            hidden += (j ? "," : "") + one.str();
        }
        o.Raw("hidden", hidden + ']');
        o.Int("weights_lost", report.weightsLost);
        o.Int("largest_weight_error_file_units", report.largestWeightError);
        o.Real("largest_weight_error", report.largestWeightError / 1e11);
    }
    out << '\n';
}
