#pragma once
// A picture written as a PNG file. The file is replaced as a whole, as every
// output of the tool is: a save that fails leaves neither half a picture nor harm
// to the file it was to replace. Needs Qt's GUI module but no widget, so tests
// write pictures without a window.
//
// Thread rules: no shared state; any thread that may use QImage.

#include <QImage>
#include <QString>

#include "files/file_result.h"

// Ok, OpenFailed (the file cannot be made there) or WriteFailed (the picture could
// not be encoded, or not all of it reached the disk).
[[nodiscard]] FileResult SavePicturePng(const QImage& picture, const QString& path);
