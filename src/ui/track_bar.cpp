#include "ui/track_bar.h"

#include <QCursor>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QToolTip>

CTrackBar::CTrackBar(QWidget* parent) : QSlider(Qt::Vertical, parent) {
    setToolTip(QString::number(value()));
    connect(this, &QSlider::valueChanged, this, &CTrackBar::OnValueChanged);
    connect(this, &QSlider::sliderMoved, this, &CTrackBar::OnSliderMoved);
}

void CTrackBar::OnValueChanged(int value) {
    setToolTip(QString::number(value));
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
