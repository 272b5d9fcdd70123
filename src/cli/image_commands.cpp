// pelkora-cli verify / decode: read a flash image back, compare it with a net file,
// or turn it into the net file that exports to the same image.

#include <chrono>
#include <iostream>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

#include "cli/ci_options.h"
#include "cli/command_frame.h"
#include "cli/commands.h"
#include "cli/option_checks.h"
#include "files/file_result.h"
#include "files/flash_image_reader.h"
#include "files/net_file.h"
#include "files/replace_file.h"
#include "files/weight_difference.h"
#include "network/net_file_writer.h"

namespace {

struct VerifyOptions {
    std::string imageFile;
    std::string netFile;
    CiOptions ci;
};

struct DecodeOptions {
    std::string imageFile;
    std::string outFile;
    bool force = false;
};

bool ReadImageOption(const CommandFrame& frame, const std::string& path, FlashImage& image) {
    const FlashImageRead read = ReadFlashImageFile(path);
    if (!read.Ok()) {
        (void)frame.FailFile(path, FlashImageOutcome(read));
        return false;
    }
    image = read.image;
    return true;
}

// Reads and compares, gathering the figures and writing the text report to `text`.
int CheckImage(const CommandFrame& frame, const VerifyOptions& options, VerifyFigures& figures,
               std::ostream& text) {
    const FlashImageRead read = ReadFlashImageFile(options.imageFile);
    if (!read.Ok()) {
        figures.imageError = FlashImageErrorText(read);
        return frame.FailFile(options.imageFile, FlashImageOutcome(read));
    }
    const FlashImage& image = read.image;
    figures.format = image.format;
    figures.bank = FlashBankName(image.wStartAddress);
    figures.records = image.recordCount;
    FileWeights fileWeights{};
    if (!options.netFile.empty()) {
        const NetFileRead loaded = ReadNetFile(options.netFile, options.netFile, fileWeights);
        if (loaded.result != FileResult::Ok) {
            // The report names the file itself.
            figures.netError = FileOutcomeText(loaded.Outcome());
            return frame.FailFile(options.netFile, loaded.Outcome());
        }
    }
    text << "Format: " << HexFileFormatName(image.format) << '\n'
         << "Bank: " << figures.bank << '\n'
         << "Records: " << image.recordCount << '\n'
         << "Weights: " << NET_WEIGHT_COUNT << '\n';
    if (options.netFile.empty()) return kExitOk;

    figures.differences = CompareWeights(image.weights, DeriveModuleWeights(fileWeights));
    if (figures.differences.empty()) {
        text << "Same weights as " << options.netFile << '\n';
        return kExitOk;
    }
    text << figures.differences.size() << " of " << NET_WEIGHT_COUNT << " weights differ from "
         << options.netFile << ":\n";
    for (const WeightDifference& d : figures.differences) text << WeightDifferenceText(d) << '\n';
    return kExitMismatch;
}

int RunVerify(const VerifyOptions& options) {
    const CommandFrame frame("verify");
    if (frame.RefuseOutput(options.ci.junitFile, {options.imageFile, options.netFile},
                           OutputKind::JUnitReport, options.ci.force)) {
        return kExitUsage;
    }
    VerifyFigures figures;
    figures.imageFile = options.imageFile;
    figures.netFile = options.netFile;
    figures.timestamp = JUnitTimestamp(std::chrono::system_clock::now());
    const auto start = std::chrono::steady_clock::now();
    std::ostringstream text;
    const int exitCode = CheckImage(frame, options, figures, options.ci.json ? text : std::cout);
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return WriteCiReports(frame, options.ci, exitCode, figures);
}

int RunDecode(const DecodeOptions& options) {
    const CommandFrame frame("decode");
    if (frame.RefuseOutput(options.outFile, {options.imageFile}, OutputKind::NetFile,
                           options.force)) {
        return kExitUsage;
    }
    FlashImage image;
    if (!ReadImageOption(frame, options.imageFile, image)) return kExitFailure;
    // A net file holds weight x 2,000,000 in 32 bits: the loader would clip larger
    // weights, and the net would no longer export to this image.
    const int unwritable = FirstUnwritableWeight(image.weights);
    if (unwritable >= 0) {
        return frame.Fail(options.imageFile + ": " + WeightNameText(unwritable) + " (" +
                          WeightPlaceText(unwritable) + ") is " +
                          std::to_string(image.weights[unwritable]) +
                          ", beyond what a net file can hold (-1073..1073)");
    }
    if (options.outFile.empty()) {
        (void)WriteModuleNetFile(std::cout, image.weights);  // a failure shows on the stream
        return frame.Finish(kExitOk);
    }
    // Replaced as a whole, as export does: a failure leaves the old net file intact.
    if (!frame.WriteFile(options.outFile, [&](std::ostream& out) {
            return WriteModuleNetFile(out, image.weights);
        })) {
        return kExitFailure;
    }
    std::cout << "Weights of the " << FlashBankName(image.wStartAddress) << " image saved in file "
              << options.outFile << '\n';
    return frame.Finish(kExitOk);
}

}  // namespace

std::vector<CliCommand> AddImageCommands(CLI::App& root) {
    auto verify = std::make_shared<VerifyOptions>();
    CLI::App* verifySub = root.add_subcommand(
        "verify", "Check a flash image, optionally against the module weights of a net file");
    AddValueOption(verifySub, "IMAGE", verify->imageFile, "Flash image (S-record or Intel HEX)")
        ->required();
    AddValueOption(verifySub, "--net", verify->netFile, "ASCII net file to compare with");
    AddCiOptions(*verifySub, verify->ci, true);

    auto decode = std::make_shared<DecodeOptions>();
    CLI::App* decodeSub = root.add_subcommand(
        "decode", "Write the ASCII net file that exports to the given flash image");
    AddValueOption(decodeSub, "IMAGE", decode->imageFile, "Flash image (S-record or Intel HEX)")
        ->required();
    AddValueOption(decodeSub, "--out", decode->outFile, "Net file to write (default: stdout)");
    decodeSub->add_flag("--force", decode->force,
                        "Replace an existing --out file that is not an ASCII net file");

    return {{verifySub, [verify] { return RunVerify(*verify); }},
            {decodeSub, [decode] { return RunDecode(*decode); }}};
}
