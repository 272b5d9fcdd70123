#include "network/quantization.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <string>
#include <string_view>

#include "network/evaluators.h"

namespace {

// The float hidden value h (0..10000) in the integer evaluator's byte units.
constexpr double kHiddenToByte = 255.0 / kNeuronScale;

OutputError Summarise(std::uint64_t values, std::uint64_t sumAbs, std::uint64_t sumSquares,
                      std::uint64_t exact, std::uint64_t withinOne, int max) {
    OutputError e;
    if (values == 0) return e;
    const double n = static_cast<double>(values);
    e.maxError = max;
    e.meanError = static_cast<double>(sumAbs) / n;
    e.rmse = std::sqrt(static_cast<double>(sumSquares) / n);
    e.shareExact = static_cast<double>(exact) / n;
    e.shareWithinOne = static_cast<double>(withinOne) / n;
    return e;
}

// Fixed-point text through to_chars: printf would follow the C locale, and the
// window's toolkit sets that from the environment.
std::string Fixed(double value, int decimals) {
    char digits[64];
    const auto [end, ec] =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(digits, end) : std::string("?");
}

std::string Percent(double share) {
    return Fixed(100.0 * share, 2) + "%";
}

// Right-aligned in `width`; never cuts.
std::string Right(std::string_view text, std::size_t width) {
    std::string s;
    if (text.size() < width) s.assign(width - text.size(), ' ');
    s.append(text);
    return s;
}

std::string Left(std::string_view text, std::size_t width) {
    std::string s(text);
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s;
}

constexpr std::size_t kNameWidth = 8;
constexpr std::size_t kColumnWidth = 12;

void WriteOutputRow(std::ostream& out, std::string_view name, const OutputError& e,
                    bool anyVectors) {
    out << Left(name, kNameWidth);
    if (!anyVectors) {
        for (int c = 0; c < 5; ++c) out << Right("-", kColumnWidth);
    } else {
        out << Right(std::to_string(e.maxError), kColumnWidth)
            << Right(Fixed(e.meanError, 4), kColumnWidth) << Right(Fixed(e.rmse, 4), kColumnWidth)
            << Right(Percent(e.shareExact), kColumnWidth)
            << Right(Percent(e.shareWithinOne), kColumnWidth);
    }
    out << '\n';
}

// A file-unit weight error (10^-11) as an exact decimal in float units.
std::string FloatUnits(std::int32_t fileUnits) {
    std::string digits = std::to_string(fileUnits);
    if (digits.size() < 12) digits.insert(0, 12 - digits.size(), '0');
    digits.insert(digits.size() - 11, ".");
    return digits;
}

}  // namespace

NetInputs UniformInputs::Next() {
    const std::uint64_t draw = rng_();
    NetInputs inputs;
    for (int i = 0; i < NET_INPUT_COUNT; ++i)
        inputs[i] = static_cast<std::uint16_t>((draw >> (8 * i)) & 0xFF);
    return inputs;
}

QuantizationAccumulator::QuantizationAccumulator(const FileWeights& fileWeights)
    : fileWeights_(fileWeights), moduleWeights_(DeriveModuleWeights(fileWeights)) {}

void QuantizationAccumulator::Add(const NetInputs& inputs) {
    const FloatEvaluation f = EvaluateFloatDetailed(inputs, fileWeights_);
    const IntEvaluation n = EvaluateIntDetailed(inputs, moduleWeights_);
    ++vectors_;
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        const int d = std::abs(static_cast<int>(f.outputs[m]) - static_cast<int>(n.outputs[m]));
        ErrorCounts& c = outputs_[m];
        c.sumAbs += static_cast<std::uint64_t>(d);
        c.sumSquares += static_cast<std::uint64_t>(d * d);
        c.exact += d == 0;
        c.withinOne += d <= 1;
        if (d > c.max) c.max = d;
    }
    for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
        const std::int32_t q = n.hiddenQuotient[j];
        saturated_[j] += q < -128 || q > 127;
        differing_[j] += std::abs(f.hidden[j] * kHiddenToByte - n.hidden[j]) > 1.0;
    }
}

QuantizationReport QuantizationAccumulator::Report() const {
    QuantizationReport r;
    r.vectors = vectors_;
    ErrorCounts all;
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        const ErrorCounts& c = outputs_[m];
        r.outputs[m] = Summarise(vectors_, c.sumAbs, c.sumSquares, c.exact, c.withinOne, c.max);
        all.sumAbs += c.sumAbs;
        all.sumSquares += c.sumSquares;
        all.exact += c.exact;
        all.withinOne += c.withinOne;
        if (c.max > all.max) all.max = c.max;
    }
    r.all = Summarise(vectors_ * NET_OUTPUT_COUNT, all.sumAbs, all.sumSquares, all.exact,
                      all.withinOne, all.max);
    if (vectors_ > 0) {
        const double n = static_cast<double>(vectors_);
        for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
            r.hidden[j].shareSaturated = static_cast<double>(saturated_[j]) / n;
            r.hidden[j].shareDiffering = static_cast<double>(differing_[j]) / n;
        }
    }
    for (int w = 0; w < NET_WEIGHT_COUNT; ++w) {
        if (fileWeights_[w] != 0 && moduleWeights_[w] == 0) ++r.weightsLost;
        // The truncation's remainder: below 2,000,000 in size, so no overflow.
        const std::int32_t error =
            std::abs(fileWeights_[w] - std::int32_t{moduleWeights_[w]} * MODULE_WEIGHT_DIVISOR);
        if (error > r.largestWeightError) r.largestWeightError = error;
    }
    return r;
}

QuantizationReport RandomQuantizationReport(const FileWeights& fileWeights, std::uint64_t count,
                                            std::uint64_t seed) {
    QuantizationAccumulator accumulator(fileWeights);
    UniformInputs inputs(seed);
    for (std::uint64_t v = 0; v < count; ++v) accumulator.Add(inputs.Next());
    return accumulator.Report();
}

void WriteQuantizationReport(std::ostream& out, const QuantizationReport& report) {
    const bool anyVectors = report.vectors > 0;
    out << "Quantization report over " << report.vectors
        << " input vectors: float (double precision) against int (the module's arithmetic)\n\n";

    out << "Outputs, in LSB of the output byte\n"
        << Left("", kNameWidth) << Right("max |f-i|", kColumnWidth)
        << Right("mean |f-i|", kColumnWidth) << Right("RMSE", kColumnWidth)
        << Right("exact", kColumnWidth) << Right("within 1", kColumnWidth) << '\n';
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m)
        WriteOutputRow(out, "out" + std::to_string(m + 1), report.outputs[m], anyVectors);
    WriteOutputRow(out, "all", report.all, anyVectors);

    out << "\nHidden neurons (float value x 255/10000 against the int byte)\n"
        << Left("", kNameWidth) << Right("saturated", kColumnWidth)
        << Right("differ > 1", kColumnWidth) << '\n';
    for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
        out << Left("h" + std::to_string(j + 1), kNameWidth);
        if (anyVectors) {
            out << Right(Percent(report.hidden[j].shareSaturated), kColumnWidth)
                << Right(Percent(report.hidden[j].shareDiffering), kColumnWidth);
        } else {
            out << Right("-", kColumnWidth) << Right("-", kColumnWidth);
        }
        out << '\n';
    }

    out << "\nWeights\n"
        << "nonzero in the file, zero in the module: " << report.weightsLost << " of "
        << NET_WEIGHT_COUNT << '\n'
        << "largest weight error (float units):      " << FloatUnits(report.largestWeightError)
        << '\n';
}
