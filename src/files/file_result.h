#pragma once
// The closed set of results of a file command (loading a net file, exporting a
// flash image, storing a training set, reading training rows), shared by the
// front ends above this layer so that the operator's texts come from one place.
//
// Thread rules: none; the texts are constants.

#include <string>

enum class FileResult {
    Ok,
    OpenFailed,   // "Error opening file"
    ReadFailed,   // "Error reading file"
    WriteFailed,  // "Error writing file"
};

// The operator's text for a failed command (empty for Ok).
[[nodiscard]] const char* FileResultText(FileResult result);

// A file operation's result with its cause in words: every reader and writer of
// a named file reports through this one form, so a failure reads the same
// whichever command or dialog met it.
struct FileOutcome {
    FileResult result = FileResult::Ok;
    // Why, when not Ok: "No such file or directory", "line 3: 'x' is not a number",
    // "no data came for 3000 ms"; may be empty.
    std::string reason;
    [[nodiscard]] bool Ok() const { return result == FileResult::Ok; }
};

// "Error reading file: line 3: 'x' is not a number" (the result's text alone
// when there is no reason; empty for Ok).
[[nodiscard]] std::string FileOutcomeText(const FileOutcome& outcome);
