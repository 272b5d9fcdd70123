#include "ui/about_dlg.h"

#include <QPushButton>

#include "ui/dialog_template.h"

namespace {

constexpr int kWidth = 217;
constexpr int kHeight = 55;

constexpr TemplateItem kTemplate[] = {
    {ControlKind::Icon, "IDR_MAINFRAME", 11, 17, 18, 20, nullptr},
    {ControlKind::Static, nullptr, 40, 10, 119, 8, "Pelkora Development Tool"},
    {ControlKind::DefPushButton, "IDOK", 178, 7, 32, 14, "OK"},
    {ControlKind::Static, nullptr, 39, 25, 40, 8, "Version 1.0a"},
};

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    const DialogUnits units = PrepareDialog(this, "About Pelkora", kWidth, kHeight);
    BuildTemplate(this, units, kTemplate);
    connect(TemplateControl<QPushButton>(this, "IDOK"), &QPushButton::clicked, this,
            &QDialog::accept);
}
