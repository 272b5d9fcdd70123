#include "ui/save_hex_command.h"

// Placeholder until the flash image writer lands.
void RunSaveHexNetFileCommand(QWidget*, DialogSeams&) {}
