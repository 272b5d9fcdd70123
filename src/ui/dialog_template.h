#pragma once
// Dialogs are described by one table each, in template order: kind, name, rectangle
// in dialog units and text. The builder creates the widgets in that order, so the
// table order is also the tab order. UI thread only.

#include <span>
#include <vector>

#include "ui/dialog_units.h"

class QDialog;
class QWidget;

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
    ComboBox,       // editable drop-down list; the height is the drop-down's
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

// Creates the controls of `items` as children of `parent`, placed by `units`, and
// returns them in table order.
[[nodiscard]] std::vector<QWidget*> BuildTemplate(QWidget* parent, const DialogUnits& units,
                                                  std::span<const TemplateItem> items);

// Gives `dialog` the template's font, caption and fixed client size (width x height
// dialog units), a title bar with a close box and no minimise or maximise box, and
// returns the units to place its controls with.
DialogUnits PrepareDialog(QDialog* dialog, const char* caption, int width, int height);
