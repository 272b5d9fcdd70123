#include "ui/track_bar.h"

#include <QCursor>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QToolTip>

CTrackBar::CTrackBar(QWidget* parent) : QSlider(Qt::Vertical, parent) {
    RefreshToolTip();
    connect(this, &QSlider::sliderMoved, this, &CTrackBar::OnSliderMoved);
}

void CTrackBar::SetToolTipText(const QString& text) {
    if (text == m_text) return;
    m_text = text;
    RefreshToolTip();
}

void CTrackBar::SetStale(bool stale) {
    if (stale == m_stale) return;
    m_stale = stale;
    update();
}

void CTrackBar::sliderChange(SliderChange change) {
    QSlider::sliderChange(change);
    // Called for every change of the value, whether or not its signals are blocked.
    if (change == SliderValueChange) RefreshToolTip();
}

void CTrackBar::RefreshToolTip() {
    const QString text = m_text.isEmpty() ? QString::number(value()) : m_text;
    if (text == toolTip()) return;
    setToolTip(text);
    // An open tooltip of this slider shows the new text at once, not the old one.
    if (QToolTip::isVisible() && underMouse() && !isSliderDown()) {
        QToolTip::showText(QCursor::pos(), text, this);
    }
}

void CTrackBar::OnSliderMoved(int value) {
    // The hover tooltip does not follow a drag; this one stays at the pointer.
    QToolTip::showText(QCursor::pos(), QString::number(value), this);
}

void CTrackBar::keyPressEvent(QKeyEvent* event) {
    // The operator is at the keyboard: from now on the window shows where the focus is,
    // as it does after Tab.
    if (!window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        window()->setAttribute(Qt::WA_KeyboardFocusChange);
        update();
    }
    // The top of a vertical trackbar is its Home end; Qt puts Home at the minimum.
    switch (event->key()) {
        case Qt::Key_Home:
            triggerAction(SliderToMaximum);
            event->accept();
            return;
        case Qt::Key_End:
            triggerAction(SliderToMinimum);
            event->accept();
            return;
        default:
            QSlider::keyPressEvent(event);
    }
}

void CTrackBar::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (m_stale) {
        QPainter painter(this);
        painter.fillRect(rect(), QBrush(QColor(0x70, 0x70, 0x70, 0xA0), Qt::BDiagPattern));
    }
    // Until the keyboard is used the focus stays unmarked, so the window at start
    // looks as it always has.
    if (!hasFocus() || !window()->testAttribute(Qt::WA_KeyboardFocusChange)) return;
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.state |= QStyle::State_KeyboardFocusChange | QStyle::State_HasFocus;
    option.backgroundColor = palette().color(QPalette::Window);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}
