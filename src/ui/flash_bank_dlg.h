#pragma once
// The flash bank selection dialog: which 1 KiB bank of the module receives the
// weights, and whether the image is written as S-records or Intel HEX.
// UI thread only. Every showing starts afresh at B000 / S19; only OK confirms.

#include <QDialog>

#include "files/hex_net_file.h"

class QButtonGroup;
class QComboBox;
class QPushButton;
class QShowEvent;

class CFlashBankDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFlashBankDlg(QWidget* parent = nullptr);
    ~CFlashBankDlg() override;

    // The choice of the last showing; bConfirmed only after OK.
    [[nodiscard]] FlashBankChoice Choice() const { return m_choice; }

    // Escape and the close box end as Cancel does: not confirmed.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void OnButtonOk();
    void OnButtonCancel();

    FlashBankChoice m_choice;
    QComboBox* m_cbBank = nullptr;  // list only, so OK always has one of the banks
    QButtonGroup* m_formatGroup = nullptr;
    QPushButton* m_okButton = nullptr;
};
