#include "ui/flash_bank_dlg.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "ui/dialog_template.h"

namespace {

constexpr int kWidth = 186;
constexpr int kHeight = 106;

using K = ControlKind;

// Template order is tab order. The bank list has no edit field, so OK always has
// one of the banks to read.
constexpr TemplateItem kTemplate[] = {
    {K::DefPushButton, "IDC_BANK_OK", 129, 85, 50, 14, "OK"},
    {K::PushButton, "IDC_BANK_CANCEL", 75, 85, 50, 14, "Cancel"},
    {K::Static, nullptr, 7, 22, 107, 8, "Select flash bank memory to use :"},
    {K::Static, nullptr, 7, 36, 165, 8, "(The Pelkora will use the last non-empty block)"},
    {K::DropList, "IDC_BANK_COMBO", 120, 19, 48, 60, nullptr},
    {K::Static, nullptr, 35, 59, 37, 8, "File format :"},
    {K::RadioButton, "IDC_FORMAT_S19", 77, 59, 29, 10, "S19"},
    {K::RadioButton, "IDC_FORMAT_HEX", 109, 59, 29, 10, "Hex"},
};

}  // namespace

CFlashBankDlg::CFlashBankDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("IDD_FLASH_BANK"));
    setModal(true);
    const DialogUnits units = PrepareDialog(this, "Flash bank memory selection", kWidth, kHeight);
    BuildTemplate(this, units, kTemplate);

    m_okButton = TemplateControl<QPushButton>(this, "IDC_BANK_OK");
    auto* cancel = TemplateControl<QPushButton>(this, "IDC_BANK_CANCEL");
    // This dialog leaves Enter to Qt: it presses the focused button, else OK.
    m_okButton->setAutoDefault(true);
    cancel->setAutoDefault(true);
    m_cbBank = TemplateControl<QComboBox>(this, "IDC_BANK_COMBO");
    for (const char* bank : FLASH_BANK_NAMES) m_cbBank->addItem(QString::fromLatin1(bank));
    m_formatGroup = new QButtonGroup(this);
    m_formatGroup->setExclusive(true);
    m_formatGroup->addButton(TemplateControl<QRadioButton>(this, "IDC_FORMAT_S19"), FORMAT_S19);
    m_formatGroup->addButton(TemplateControl<QRadioButton>(this, "IDC_FORMAT_HEX"), FORMAT_HEX);

    connect(cancel, &QPushButton::clicked, this, &CFlashBankDlg::OnButtonCancel);
    connect(m_okButton, &QPushButton::clicked, this, &CFlashBankDlg::OnButtonOk);

    OnInitDialog();
}

CFlashBankDlg::~CFlashBankDlg() = default;

void CFlashBankDlg::reject() {
    OnButtonCancel();
}

void CFlashBankDlg::showEvent(QShowEvent* event) {
    // A window system's own show (restoring from minimised) is no new showing.
    if (!event->spontaneous()) OnInitDialog();
    QDialog::showEvent(event);
}

void CFlashBankDlg::OnInitDialog() {
    m_choice.bConfirmed = false;
    m_cbBank->setCurrentIndex(0);
    m_formatGroup->button(FORMAT_S19)->setChecked(true);
    m_okButton->setFocus(Qt::OtherFocusReason);
}

void CFlashBankDlg::OnButtonOk() {
    std::uint16_t address = FLASH_BANK_FIRST;
    // The list holds only bank names; a failed read would keep B000.
    (void)ParseFlashBank(m_cbBank->currentText().toStdString(), address);
    m_choice.wStartAddress = address;
    m_choice.nFormat = m_formatGroup->checkedId() == FORMAT_HEX ? FORMAT_HEX : FORMAT_S19;
    m_choice.bConfirmed = true;
    accept();
}

void CFlashBankDlg::OnButtonCancel() {
    m_choice.bConfirmed = false;
    QDialog::reject();
}
