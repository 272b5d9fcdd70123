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
    // The position change one arrow asks for: the up arrow (or the Up key) +1, the
    // down arrow (or the Down key) -1.
    void deltaPos(int delta);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QToolButton* m_up;
    QToolButton* m_down;
};
