// pelkora-cli verify / decode: read a flash image back, compare it with a net file,
// or turn it into the net file that exports to the same image.

#include <iostream>
#include <memory>
#include <ostream>
#include <string>

#include "cli/commands.h"
#include "files/file_result.h"
#include "files/flash_image_reader.h"
#include "files/replace_file.h"
#include "files/weight_difference.h"
#include "network/net_file_writer.h"

namespace {

// The image is well formed but holds other weights than the net given.
constexpr int kExitDiffers = 3;

struct VerifyOptions {
    std::string imageFile;
    std::string netFile;
};

struct DecodeOptions {
    std::string imageFile;
    std::string outFile;
};

bool ReadImageOption(const std::string& path, FlashImage& image) {
    const FlashImageRead read = ReadFlashImageFile(path);
    if (!read.Ok()) {
        std::cerr << path << ": " << FlashImageErrorText(read) << '\n';
        return false;
    }
    image = read.image;
    return true;
}

int RunVerify(const VerifyOptions& options) {
    FlashImage image;
    if (!ReadImageOption(options.imageFile, image)) return kExitFailure;
    FileWeights fileWeights{};
    if (!options.netFile.empty() && !LoadNetOption(options.netFile, fileWeights)) {
        return kExitFailure;
    }
    std::cout << "Format: " << HexFileFormatName(image.format) << '\n'
              << "Bank: " << FlashBankName(image.wStartAddress) << '\n'
              << "Records: " << image.recordCount << '\n'
              << "Weights: " << NET_WEIGHT_COUNT << '\n';
    if (options.netFile.empty()) return kExitOk;

    const auto differences = CompareWeights(image.weights, DeriveModuleWeights(fileWeights));
    if (differences.empty()) {
        std::cout << "Same weights as " << options.netFile << '\n';
        return kExitOk;
    }
    std::cout << differences.size() << " of " << NET_WEIGHT_COUNT << " weights differ from "
              << options.netFile << ":\n";
    for (const WeightDifference& d : differences) std::cout << WeightDifferenceText(d) << '\n';
    return kExitDiffers;
}

int RunDecode(const DecodeOptions& options) {
    FlashImage image;
    if (!ReadImageOption(options.imageFile, image)) return kExitFailure;
    // A net file holds weight x 2,000,000 in 32 bits: the loader would clip larger
    // weights, and the net would no longer export to this image.
    const int unwritable = FirstUnwritableWeight(image.weights);
    if (unwritable >= 0) {
        std::cerr << options.imageFile << ": " << WeightNameText(unwritable) << " ("
                  << WeightPlaceText(unwritable) << ") is " << image.weights[unwritable]
                  << ", beyond what a net file can hold (-1073..1073)\n";
        return kExitFailure;
    }
    if (options.outFile.empty()) {
        return WriteModuleNetFile(std::cout, image.weights) && std::cout.flush() ? kExitOk
                                                                                 : kExitFailure;
    }
    // Replaced as a whole, as export does: a failure leaves the old net file intact.
    FileReplacement out(options.outFile);
    const FileResult opened = out.Open();
    if (opened != FileResult::Ok) {
        std::cerr << FileResultText(opened) << '\n';
        return kExitFailure;
    }
    const bool written = WriteModuleNetFile(out.Stream(), image.weights);
    const FileResult committed = out.Commit();
    if (committed != FileResult::Ok || !written) {
        std::cerr << FileResultText(FileResult::WriteFailed) << '\n';
        return kExitFailure;
    }
    std::cout << "Weights of the " << FlashBankName(image.wStartAddress) << " image saved in file "
              << options.outFile << '\n';
    return kExitOk;
}

}  // namespace

std::vector<CliCommand> AddImageCommands(CLI::App& root) {
    auto verify = std::make_shared<VerifyOptions>();
    CLI::App* verifySub = root.add_subcommand(
        "verify", "Check a flash image, optionally against the module weights of a net file");
    verifySub->add_option("IMAGE", verify->imageFile, "Flash image (S-record or Intel HEX)")
        ->required();
    verifySub->add_option("--net", verify->netFile, "ASCII net file to compare with");

    auto decode = std::make_shared<DecodeOptions>();
    CLI::App* decodeSub = root.add_subcommand(
        "decode", "Write the ASCII net file that exports to the given flash image");
    decodeSub->add_option("IMAGE", decode->imageFile, "Flash image (S-record or Intel HEX)")
        ->required();
    decodeSub->add_option("--out", decode->outFile, "Net file to write (default: stdout)");

    return {{verifySub, [verify] { return RunVerify(*verify); }},
            {decodeSub, [decode] { return RunDecode(*decode); }}};
}
