#pragma once
// "&Save hexadecimal net file": flash bank dialog, save-as dialog, then the flash
// image of the current module weights. UI thread only.

class QWidget;
class DialogSeams;

void RunSaveHexNetFileCommand(QWidget* owner, DialogSeams& dialogs);
