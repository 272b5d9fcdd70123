#include "ui/up_down_ctrl.h"

#include <QKeyEvent>
#include <QToolButton>

CUpDownCtrl::CUpDownCtrl(QWidget* parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this)) {
    for (QToolButton* button : {m_up, m_down}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->setAutoRaise(false);
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    m_up->setObjectName(QStringLiteral("up"));
    m_down->setObjectName(QStringLiteral("down"));
    // No tab stop, but a click leaves the arrow keys working, as with the original.
    setFocusPolicy(Qt::ClickFocus);
    connect(m_up, &QToolButton::clicked, this, [this] { emit deltaPos(+1); });
    connect(m_down, &QToolButton::clicked, this, [this] { emit deltaPos(-1); });
}

void CUpDownCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int upHeight = height() / 2;
    m_up->setGeometry(0, 0, width(), upHeight);
    m_down->setGeometry(0, upHeight, width(), height() - upHeight);
}

void CUpDownCtrl::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Up:
            emit deltaPos(+1);
            break;
        case Qt::Key_Down:
            emit deltaPos(-1);
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
}
