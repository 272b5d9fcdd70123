#include <charconv>
#include <iostream>
#include <limits>
#include <memory>
#include <string>

#include "cli/ci_options.h"
#include "cli/command_frame.h"
#include "cli/commands.h"
#include "cli/option_checks.h"
#include "cli/vector_stream.h"
#include "network/evaluators.h"
#include "network/quantization.h"

namespace {

struct QuantizeOptions {
    std::string netFile;
    std::string vectorFile;
    std::uint64_t randomCount = kDefaultReportVectors;
    std::uint64_t seed = UniformInputs::kDefaultSeed;
    bool tsv = false;
    CiOptions ci;  // --json
};

// One line per vector, inputs then both evaluators' outputs, for numpy and pandas.
class TsvWriter {
public:
    explicit TsvWriter(std::ostream& out) : out_(out) {
        buffer_.reserve(kCapacity);
        constexpr const char* kGroups[] = {"in", "float", "int"};
        for (int g = 0; g < 3; ++g) {
            for (int k = 1; k <= 8; ++k) {
                buffer_ += kGroups[g] + std::to_string(k);
                buffer_ += g == 2 && k == 8 ? '\n' : '\t';
            }
        }
    }
    ~TsvWriter() { Flush(); }
    TsvWriter(const TsvWriter&) = delete;
    TsvWriter& operator=(const TsvWriter&) = delete;

    void Write(const NetInputs& in, const FileWeights& fileWeights,
               const ModuleWeights& moduleWeights) {
        if (buffer_.size() + kMaxLine > kCapacity) Flush();
        Append(in, '\t');
        Append(EvaluateFloat(in, fileWeights), '\t');
        Append(EvaluateInt(in, moduleWeights), '\n');
    }

    void Flush() {
        if (buffer_.empty()) return;
        out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        buffer_.clear();
    }

private:
    static constexpr std::size_t kCapacity = 1 << 16;
    static constexpr std::size_t kMaxLine = 24 * 6;

    void Append(const std::array<std::uint16_t, 8>& values, char last) {
        for (std::size_t k = 0; k < values.size(); ++k) {
            char digits[8];
            const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, values[k]);
            buffer_.append(digits, end);
            buffer_.push_back(k + 1 < values.size() ? '\t' : last);
        }
    }

    std::ostream& out_;
    std::string buffer_;
};

int RunQuantize(const QuantizeOptions& options) {
    const CommandFrame frame("quantize");
    FileWeights fileWeights{};
    if (!frame.LoadNet(options.netFile, fileWeights)) return kExitFailure;
    const ModuleWeights moduleWeights = DeriveModuleWeights(fileWeights);

    std::ios::sync_with_stdio(false);
    QuantizationAccumulator accumulator(fileWeights);
    std::unique_ptr<TsvWriter> tsv;
    if (options.tsv) tsv = std::make_unique<TsvWriter>(std::cout);
    auto take = [&](const NetInputs& in) {
        if (tsv) {
            tsv->Write(in, fileWeights, moduleWeights);
        } else {
            accumulator.Add(in);
        }
    };

    if (!options.vectorFile.empty()) {
        BoundedFileStream in;
        if (!frame.OpenInput(options.vectorFile, in)) return kExitFailure;
        const StreamResult result = ReadVectors(
            [&in](char* buffer, std::size_t size) {
                in.read(buffer, static_cast<std::streamsize>(size));
                return static_cast<long>(in.gcount());
            },
            take);
        if (!result.ok || in.Result() != FileResult::Ok) {
            tsv.reset();  // the lines before the fault stay written, as with simulate
            (void)std::cout.flush();
            // A read that failed ends the stream as its end does: that is the cause.
            if (!frame.InputRead(options.vectorFile, in)) return kExitFailure;
            return frame.FailFile(options.vectorFile, {FileResult::ReadFailed, result.error});
        }
    } else {
        UniformInputs inputs(options.seed);
        for (std::uint64_t v = 0; v < options.randomCount; ++v) take(inputs.Next());
    }

    if (tsv) {
        tsv.reset();
    } else {
        if (options.ci.json) {
            const std::string source = options.vectorFile.empty()
                                           ? "random, seed " + std::to_string(options.seed)
                                           : options.vectorFile;
            WriteQuantizationJson(std::cout, options.netFile, source, accumulator.Report());
        } else {
            WriteQuantizationReport(std::cout, accumulator.Report());
        }
    }
    return frame.Finish(kExitOk);
}

}  // namespace

std::vector<CliCommand> AddQuantizeCommand(CLI::App& root) {
    auto options = std::make_shared<QuantizeOptions>();
    CLI::App* sub = root.add_subcommand(
        "quantize",
        "Compare the module's integer arithmetic with the double-precision network on many "
        "input vectors, in LSB of the output bytes");
    AddValueOption(sub, "--net", options->netFile, "ASCII net file to load")->required();
    CLI::Option* vectors =
        AddValueOption(sub, "--vectors", options->vectorFile,
                       "input vectors, one per line as for simulate (training files work)");
    CLI::Option* random =
        AddValueOption(sub, "--random", options->randomCount, "this many uniform random vectors")
            ->check(WholeNumberIn(0, std::numeric_limits<std::uint64_t>::max()))
            ->capture_default_str();
    CLI::Option* seed = AddValueOption(sub, "--seed", options->seed, "seed of the random vectors")
                            ->check(WholeNumberIn(0, std::numeric_limits<std::uint64_t>::max()))
                            ->capture_default_str();
    vectors->excludes(random)->excludes(seed);
    CLI::Option* tsv = sub->add_flag("--tsv", options->tsv,
                                     "one line per vector instead of the report: in1..in8 "
                                     "float1..float8 int1..int8");
    AddCiOptions(*sub, options->ci, false);
    tsv->excludes(sub->get_option("--json"));
    return {{sub, [options] { return RunQuantize(*options); }}};
}
