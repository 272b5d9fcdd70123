#pragma once
// A pair of small arrows, one above the other, like the classic up-down control
// without a buddy window. UI thread only.

#include <QWidget>

class QToolButton;

class CUpDownCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CUpDownCtrl(QWidget* parent = nullptr);

signals:
    // The position change one arrow asks for. The control keeps the classic default
    // range (minimum 100, maximum 0), in which the up arrow moves toward the maximum:
    // up reports -1, down +1.
    void deltaPos(int delta);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QToolButton* m_up;
    QToolButton* m_down;
};
