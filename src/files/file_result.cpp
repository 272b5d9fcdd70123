#include "files/file_result.h"

const char* FileResultText(FileResult result) {
    switch (result) {
        case FileResult::Ok:
            return "";
        case FileResult::OpenFailed:
            return "Error opening file";
        case FileResult::ReadFailed:
            return "Error reading file";
        case FileResult::WriteFailed:
            return "Error writing file";
    }
    return "";
}

std::string FileOutcomeText(const FileOutcome& outcome) {
    std::string text = FileResultText(outcome.result);
    if (!outcome.Ok() && !outcome.reason.empty()) text += ": " + outcome.reason;
    return text;
}
