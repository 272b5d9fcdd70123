#include "ui/file_format_dlg.h"

#include <QPushButton>

#include "ui/dialog_template.h"

namespace {

constexpr int kWidth = 296;
constexpr int kHeight = 130;

// The texts are the operator's long-familiar wording, misspellings included. The
// line at y 54 comes late in the table but reads between those at y 47 and 66.
constexpr TemplateItem kTemplate[] = {
    {ControlKind::DefPushButton, "IDOK", 239, 109, 50, 14, "OK"},
    {ControlKind::Static, nullptr, 7, 7, 32, 8, "Warning !"},
    {ControlKind::Static, nullptr, 7, 22, 198, 8,
     "The file format of the input ASCII net file must be the following :"},
    {ControlKind::Static, nullptr, 7, 37, 208, 8,
     "- 280 lines, each line including only one signed long decimal value"},
    {ControlKind::Static, nullptr, 17, 47, 252, 8,
     "- First 144 lines (16x9) represents the weights between the 8 inputs plus bias"},
    {ControlKind::Static, nullptr, 17, 66, 246, 8,
     "- Next 136 (8x17) lines represents the weights between the 16 hidden neurons"},
    {ControlKind::Static, nullptr, 17, 74, 115, 8, "  plus biais and the 8 output neurons"},
    {ControlKind::Static, nullptr, 17, 54, 244, 8,
     "  and  the 16 hidden neurons (first in1 to hidden1, then in1 to hidden2, etc)"},
    {ControlKind::Static, nullptr, 7, 86, 162, 8,
     "- Input values shoud be normalized from 0 to 10000"},
    {ControlKind::Static, nullptr, 7, 98, 274, 8,
     "- Each weight is an integer number, egal to the float weigth multiplied by 10 to power 11"},
};

}  // namespace

CFileFormatDlg::CFileFormatDlg(QWidget* parent) : QDialog(parent) {
    const DialogUnits units = PrepareDialog(this, "File format", kWidth, kHeight);
    BuildTemplate(this, units, kTemplate);
    connect(TemplateControl<QPushButton>(this, "IDOK"), &QPushButton::clicked, this,
            &QDialog::accept);
}
