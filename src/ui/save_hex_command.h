#pragma once
// "&Save hexadecimal net file": flash bank dialog, save-as dialog, then the flash
// image of the current module weights. UI thread only; the engine copies the 280
// weights as one consistent set, and the file is written without any lock held.

class QWidget;
class DialogSeams;
class Engine;

void RunSaveHexNetFileCommand(QWidget* owner, DialogSeams& dialogs, Engine& engine);
