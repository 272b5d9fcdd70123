#include "ui/dialog_template.h"

#include <algorithm>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>

#include "ui/app_icon.h"
#include "ui/dialog_units.h"
#include "ui/track_bar.h"
#include "ui/up_down_ctrl.h"

namespace {

// A closed combo box stands one text line and a border high; the rest of the
// template's height is the dropped list, at one list item per 8 units.
constexpr int kComboClosedHeight = 12;
constexpr int kListItemHeight = 8;

// The edit field of a drop-down combo box takes the operator's typing, but only a
// list choice selects: Qt would otherwise pick the item that matches the typed text
// when editing ends (Return or leaving the field). Text other than the selected
// item's never counts as finished input, so that matching never starts.
class SelectedItemOnlyValidator : public QValidator {
public:
    explicit SelectedItemOnlyValidator(QComboBox* combo) : QValidator(combo), m_combo(combo) {}

    State validate(QString& input, int& /*pos*/) const override {
        return input == m_combo->itemText(m_combo->currentIndex()) ? Acceptable : Intermediate;
    }

private:
    QComboBox* m_combo;
};

QWidget* Create(QWidget* parent, const TemplateItem& item) {
    const QString text = item.text ? QString::fromLatin1(item.text) : QString();
    switch (item.kind) {
        case ControlKind::Static: {
            auto* label = new QLabel(text, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setTextFormat(Qt::PlainText);
            return label;
        }
        case ControlKind::Icon: {
            auto* label = new QLabel(parent);
            label->setPixmap(PelkoraIcon().pixmap(32, 32));
            return label;
        }
        case ControlKind::GroupBox: {
            auto* frame = new QGroupBox(text, parent);
            // The title sits on the frame's top line, so the frame fills the template's
            // rectangle; some styles would put the title above it.
            frame->setStyleSheet(QStringLiteral(
                "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: "
                "0.5em; }"
                "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                " left: 6px; padding: 0 2px; }"));
            return frame;
        }
        case ControlKind::Slider: {
            auto* slider = new CTrackBar(parent);
            slider->setRange(0, 255);
            slider->setTickPosition(QSlider::NoTicks);
            slider->setPageStep(51);  // a fifth of the range, as the classic trackbar pages
            return slider;
        }
        case ControlKind::CheckBox:
            return new QCheckBox(text, parent);
        case ControlKind::RadioButton:
            return new QRadioButton(text, parent);
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* button = new QPushButton(text, parent);
            // Enter is handled by the dialogs themselves (see their key handling); a
            // focused push button must not turn itself into the default one.
            button->setAutoDefault(false);
            button->setDefault(item.kind == ControlKind::DefPushButton);
            return button;
        }
        case ControlKind::Edit:
            return new QLineEdit(parent);
        case ControlKind::ReadOnlyEdit: {
            auto* edit = new QLineEdit(parent);
            edit->setReadOnly(true);
            edit->setFocusPolicy(Qt::ClickFocus);
            return edit;
        }
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            // Completion would turn typed text into a list choice as well.
            combo->setCompleter(nullptr);
            combo->setValidator(new SelectedItemOnlyValidator(combo));
            combo->setMaxVisibleItems((item.height - kComboClosedHeight) / kListItemHeight);
            return combo;
        }
        case ControlKind::DropList: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(false);
            combo->setMaxVisibleItems((item.height - kComboClosedHeight) / kListItemHeight);
            return combo;
        }
        case ControlKind::UpDown:
            return new CUpDownCtrl(parent);
    }
    return nullptr;
}

}  // namespace

void BuildTemplate(QWidget* parent, const DialogUnits& units, std::span<const TemplateItem> items) {
    std::vector<QWidget*> widgets;
    widgets.reserve(items.size());
    for (const TemplateItem& item : items) {
        QWidget* widget = Create(parent, item);
        if (item.name) widget->setObjectName(QString::fromLatin1(item.name));
        QRect rect = units.Rect(item.x, item.y, item.width, item.height);
        if (item.kind == ControlKind::Icon) {
            // An icon static takes the icon's own size, whatever the template says.
            rect.setSize(QSize(32, 32));
        } else if (item.kind == ControlKind::Static && item.text) {
            // The templates' text boxes were measured for a narrower font; a label that
            // does not fit grows to the right (as far as the dialog allows) rather than
            // losing its last words.
            const int needed =
                widget->fontMetrics().horizontalAdvance(QString::fromLatin1(item.text)) + 2;
            const int room = parent->width() > 0 ? parent->width() - rect.x() - 1 : needed;
            rect.setWidth(std::max(rect.width(), std::min(needed, room)));
        } else if (item.kind == ControlKind::ComboBox) {
            // The template's height is the open list's; the closed box is one line.
            rect.setHeight(widget->sizeHint().height());
        } else if (item.kind == ControlKind::DropList) {
            // The flash bank list has always stood at the template's closed height.
            rect.setHeight(units.Y(kComboClosedHeight));
        }
        widget->setGeometry(rect);
        widgets.push_back(widget);
    }
    // Frames come late in the tables but must not sit over (and swallow clicks for)
    // the controls they surround.
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind == ControlKind::GroupBox) widgets[i]->lower();
    }
}

DialogUnits PrepareDialog(QDialog* dialog, const char* caption, int width, int height) {
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    dialog->setFont(DialogFont());
    dialog->setWindowTitle(QString::fromLatin1(caption));
    DialogUnits units(dialog->font());
    dialog->setFixedSize(units.Size(width, height));
    return units;
}
