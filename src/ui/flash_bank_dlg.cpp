#include "ui/flash_bank_dlg.h"

// Placeholder until the flash bank dialog lands.
CFlashBankDlg::CFlashBankDlg(QWidget* parent) : QDialog(parent) {}
CFlashBankDlg::~CFlashBankDlg() = default;
