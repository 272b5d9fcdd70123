#include "ui/flash_bank_dlg.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "ui/dialog_units.h"

namespace {

// The closed combo box stands about one text line and a border high; the rest of
// the template's 60 units is the dropped list.
constexpr int kComboClosedHeight = 12;
constexpr int kComboListHeight = 60 - kComboClosedHeight;
constexpr int kListItemHeight = 8;

QLabel* AddLabel(QWidget* parent, const DialogUnits& units, const char* text, int x, int y,
                 int width, int height) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    units.Place(label, x, y, width, height);
    return label;
}

}  // namespace

CFlashBankDlg::CFlashBankDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("IDD_FLASH_BANK"));
    setWindowTitle(QStringLiteral("Flash bank memory selection"));
    // Caption and close box only: a modal frame has neither help nor size buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFont(DialogFont());
    const DialogUnits units(font());
    setFixedSize(units.Size(186, 106));

    // Template order, which is also the tab order.
    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setObjectName(QStringLiteral("IDC_BANK_OK"));
    m_okButton->setDefault(true);
    units.Place(m_okButton, 129, 85, 50, 14);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("IDC_BANK_CANCEL"));
    units.Place(cancel, 75, 85, 50, 14);

    AddLabel(this, units, "Select flash bank memory to use :", 7, 22, 107, 8);
    AddLabel(this, units, "(The Pelkora will use the last non-empty block)", 7, 36, 165, 8);

    m_cbBank = new QComboBox(this);
    m_cbBank->setObjectName(QStringLiteral("IDC_BANK_COMBO"));
    m_cbBank->setEditable(false);
    for (const char* bank : FLASH_BANK_NAMES) m_cbBank->addItem(QString::fromLatin1(bank));
    m_cbBank->setMaxVisibleItems(kComboListHeight / kListItemHeight);
    units.Place(m_cbBank, 120, 19, 48, kComboClosedHeight);

    AddLabel(this, units, "File format :", 35, 59, 37, 8);

    auto* s19 = new QRadioButton(QStringLiteral("S19"), this);
    s19->setObjectName(QStringLiteral("IDC_FORMAT_S19"));
    units.Place(s19, 77, 59, 29, 10);
    auto* hex = new QRadioButton(QStringLiteral("Hex"), this);
    hex->setObjectName(QStringLiteral("IDC_FORMAT_HEX"));
    units.Place(hex, 109, 59, 29, 10);
    m_formatGroup = new QButtonGroup(this);
    m_formatGroup->setExclusive(true);
    m_formatGroup->addButton(s19, FORMAT_S19);
    m_formatGroup->addButton(hex, FORMAT_HEX);

    setTabOrder(m_okButton, cancel);
    setTabOrder(cancel, m_cbBank);
    setTabOrder(m_cbBank, s19);
    setTabOrder(s19, hex);

    connect(cancel, &QPushButton::clicked, this, &CFlashBankDlg::OnButtonCancel);
    connect(m_okButton, &QPushButton::clicked, this, &CFlashBankDlg::OnButtonOk);

    OnInitDialog();
}

CFlashBankDlg::~CFlashBankDlg() = default;

void CFlashBankDlg::reject() {
    m_choice.bConfirmed = false;
    QDialog::reject();
}

void CFlashBankDlg::showEvent(QShowEvent* event) {
    // A window system's own show (restoring from minimised) is no new showing.
    if (!event->spontaneous()) OnInitDialog();
    QDialog::showEvent(event);
}

void CFlashBankDlg::OnInitDialog() {
    m_choice.bConfirmed = false;
    m_cbBank->setCurrentIndex(0);
    m_nFormat = FORMAT_S19;
    m_formatGroup->button(m_nFormat)->setChecked(true);
    m_okButton->setFocus(Qt::OtherFocusReason);
}

void CFlashBankDlg::OnButtonOk() {
    m_nFormat = m_formatGroup->checkedId();
    std::uint16_t address = FLASH_BANK_FIRST;
    // The list holds only bank names; a failed read would keep B000.
    (void)ParseFlashBank(m_cbBank->currentText().toStdString(), address);
    m_choice.wStartAddress = address;
    m_choice.nFormat = m_nFormat == FORMAT_HEX ? FORMAT_HEX : FORMAT_S19;
    m_choice.bConfirmed = true;
    accept();
}

void CFlashBankDlg::OnButtonCancel() {
    m_choice.bConfirmed = false;
    QDialog::reject();
}
