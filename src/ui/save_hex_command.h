#pragma once
// "&Save hexadecimal net file": flash bank dialog, save-as dialog, then the flash
// image of the current module weights. UI thread only; takes the state's hMutex only
// while the weight records are written (after the file is open, before the end
// record), so the 280 weights are exported as one consistent set.

class QWidget;
class DialogSeams;
struct SharedState;

void RunSaveHexNetFileCommand(QWidget* owner, DialogSeams& dialogs, SharedState& state);
