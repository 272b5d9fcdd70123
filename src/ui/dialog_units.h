#pragma once
// Dialog templates are drawn in dialog units: a quarter of the dialog font's average
// character width across, an eighth of its height down. Laying widgets out from the
// templates with the font's own metrics keeps every dialog's proportions at any font.

#include <QFont>
#include <QRect>
#include <QSize>

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    [[nodiscard]] int X(int dlu) const;
    [[nodiscard]] int Y(int dlu) const;
    [[nodiscard]] QRect Rect(int x, int y, int width, int height) const;
    [[nodiscard]] QSize Size(int width, int height) const;

private:
    int m_baseX;
    int m_baseY;
};

// The font the templates were drawn for (8-point sans serif) on this system.
[[nodiscard]] QFont DialogFont();
