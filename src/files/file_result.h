#pragma once
// The closed set of results of a file command (loading a net file, exporting a
// flash image, storing a training set), shared by the front ends above this layer
// so that the operator's texts come from one place.
//
// Thread rules: none; the texts are constants.

enum class FileResult {
    Ok,
    OpenFailed,   // "Error opening file"
    ReadFailed,   // "Error reading file"
    WriteFailed,  // "Error writing file"
};

// The operator's text for a failed command (empty for Ok).
[[nodiscard]] const char* FileResultText(FileResult result);
