#pragma once
// The flash bank selection dialog. UI thread only.

#include <QDialog>

#include "files/hex_net_file.h"

class CFlashBankDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFlashBankDlg(QWidget* parent = nullptr);
    ~CFlashBankDlg() override;

    // The choice of the last showing; bConfirmed only after OK.
    [[nodiscard]] FlashBankChoice Choice() const { return m_choice; }

private:
    FlashBankChoice m_choice;
};
