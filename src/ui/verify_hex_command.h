#pragma once
// "Verify hexadecimal net file...": open-file dialog for a flash image, then one
// message that says whether it is well formed, its bank, and whether it holds the
// module weights loaded now. UI thread only; the engine copies the loaded weights
// (the file is read before, without the lock).

#include <QString>

#include "files/flash_image_reader.h"
#include "files/weight_difference.h"

class QWidget;
class DialogSeams;

// The message for an image read and the weights it was compared with; `name`
// (the file's name) says which file a failure is about, as the net file's do.
[[nodiscard]] QString VerifyHexMessage(const FlashImageRead& read, const ModuleWeights& loaded,
                                       const QString& name = QString());

class Engine;

void RunVerifyHexNetFileCommand(QWidget* owner, DialogSeams& dialogs, Engine& engine);
