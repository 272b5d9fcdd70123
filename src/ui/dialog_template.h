#pragma once
// Dialogs are described by one table each, in template order: kind, name, rectangle
// in dialog units and text. The builder creates the widgets in that order, so the
// table order is also the tab order. UI thread only.

#include <QLatin1String>
#include <QWidget>
#include <span>

#include "ui/dialog_units.h"

class QDialog;

enum class ControlKind {
    Static,    // left-aligned text label
    Icon,      // the application icon
    GroupBox,  // a frame with a title, drawn behind its neighbours
    Slider,    // vertical slider 0..255, no ticks
    CheckBox,
    RadioButton,
    PushButton,
    DefPushButton,  // the button that Enter presses
    Edit,           // one-line edit box
    ReadOnlyEdit,   // one-line edit box the operator cannot change, no tab stop
    ComboBox,       // drop-down list with an edit field whose text is never used;
                    // the height is the dropped list's
    DropList,       // drop-down list without an edit field; the height is the list's
    UpDown,         // small up/down arrows without a buddy
};

struct TemplateItem {
    ControlKind kind;
    const char* name;  // object name (the resource id's name), nullptr for plain labels
    int x;
    int y;
    int width;
    int height;
    const char* text;  // nullptr when the control has none
};

// Creates the controls of `items` as children of `parent`, placed by `units`, in
// table order.
void BuildTemplate(QWidget* parent, const DialogUnits& units, std::span<const TemplateItem> items);

// The control that the template built under `parent` with the name `name`.
template <typename T>
[[nodiscard]] T* TemplateControl(const QWidget* parent, const char* name) {
    T* control = parent->findChild<T*>(QLatin1String(name), Qt::FindDirectChildrenOnly);
    Q_ASSERT_X(control, "TemplateControl", name);
    return control;
}

// Gives `dialog` the template's font, caption and fixed client size (width x height
// dialog units), a title bar with a close box and no minimise or maximise box, and
// returns the units to place its controls with.
DialogUnits PrepareDialog(QDialog* dialog, const char* caption, int width, int height);
