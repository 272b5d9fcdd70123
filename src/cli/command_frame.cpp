#include "cli/command_frame.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "cli/commands.h"
#include "files/net_file.h"

int CommandFrame::Fail(const std::string& text) const {
    std::cerr << "pelkora-cli " << command_ << ": " << text << '\n';
    return kExitFailure;
}

int CommandFrame::FailFile(const std::string& file, const FileOutcome& outcome) const {
    return Fail(file + ": " + FileOutcomeText(outcome));
}

bool CommandFrame::LoadNet(const std::string& path, FileWeights& weights) const {
    if (path.empty()) return true;
    const NetFileRead read = ReadNetFile(path, path, weights);
    if (read.result == FileResult::Ok) return true;
    (void)FailFile(path, read.Outcome());
    return false;
}

bool CommandFrame::OpenInput(const std::string& path, BoundedFileStream& in) const {
    if (in.Open(path) == FileResult::Ok) return true;
    (void)FailFile(path, in.Outcome());
    return false;
}

bool CommandFrame::InputRead(const std::string& path, const BoundedFileStream& in) const {
    if (in.Result() == FileResult::Ok) return true;
    (void)FailFile(path, in.Outcome());
    return false;
}

bool CommandFrame::RefuseOutput(const std::string& output, const std::vector<std::string>& inputs,
                                OutputKind kind, bool force) const {
    if (output.empty()) return false;
    const OutputCheck check = CheckOutput(output, inputs, kind, force);
    if (!check.Refused()) return false;
    (void)Fail(OutputCheckText(check, output, kind));
    return true;
}

bool CommandFrame::WriteFile(const std::string& path,
                             const std::function<bool(std::ostream&)>& write) const {
    const FileOutcome written = WriteWholeFile(path, write);
    if (written.Ok()) return true;
    (void)FailFile(path, written);
    return false;
}

int CommandFrame::Finish(int exitCode) const {
    errno = 0;
    if (std::cout.flush()) return exitCode;
    const int cause = errno;
    return Fail(std::string("error writing the output") +
                (cause != 0 ? std::string(": ") + std::strerror(cause) : std::string()));
}
