#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "cli/command_frame.h"
#include "cli/commands.h"
#include "cli/option_checks.h"
#include "files/hex_net_file.h"

namespace {

struct ExportOptions {
    std::string outFile;
    std::string netFile;
    std::string bank = "B000";
    std::string format = "s19";
    bool force = false;
};

int RunExport(const ExportOptions& options) {
    const CommandFrame frame("export");
    if (frame.RefuseOutput(options.outFile, {options.netFile}, OutputKind::FlashImage,
                           options.force)) {
        return kExitUsage;
    }
    // The all-zero network unless a file is given, as the window exports before a load.
    FileWeights fileWeights{};
    if (!frame.LoadNet(options.netFile, fileWeights)) return kExitFailure;
    std::uint16_t startAddress = FLASH_BANK_FIRST;
    if (!ParseFlashBank(options.bank, startAddress)) return kExitUsage;  // the validator let it by
    const HexFileFormat format = options.format == "hex" ? FORMAT_HEX : FORMAT_S19;

    const ModuleWeights weights = DeriveModuleWeights(fileWeights);
    if (!frame.WriteFile(options.outFile, [&](std::ostream& out) {
            return WriteHexNetFile(out, weights, startAddress, format);
        })) {
        return kExitFailure;
    }
    std::error_code error;
    const std::filesystem::path shown = std::filesystem::absolute(options.outFile, error);
    std::cout << HexExportSuccessText(error ? options.outFile : shown.string(), startAddress)
              << '\n';
    return frame.Finish(kExitOk);
}

}  // namespace

std::vector<CliCommand> AddExportCommand(CLI::App& root) {
    auto options = std::make_shared<ExportOptions>();
    CLI::App* sub = root.add_subcommand(
        "export", "Write the module weights as a flash image (Motorola S-record or Intel HEX)");
    AddValueOption(sub, "OUTFILE", options->outFile,
                   "Flash image file to write (replaced as a whole)")
        ->required();
    AddValueOption(sub, "--net", options->netFile,
                   "ASCII net file to load (default: all-zero network)");
    AddValueOption(sub, "--bank", options->bank,
                   "Flash bank: B000, B400, ... DC00 (any letter case)")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                std::uint16_t address = 0;
                if (!ParseFlashBank(value, address)) {
                    return "not a flash bank (B000, B400, ... DC00): " + value;
                }
                return {};
            },
            "BANK"))
        ->capture_default_str();
    AddValueOption(sub, "--format", options->format, "s19 (Motorola S-record) or hex (Intel HEX)")
        ->transform(CLI::IsMember({"s19", "hex"}, CLI::ignore_case))
        ->capture_default_str();
    sub->add_flag("--force", options->force,
                  "Replace an existing OUTFILE that is not a flash image");
    return {{sub, [options] { return RunExport(*options); }}};
}
