#include "ui/host_marker.h"

#include <QEvent>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

CHostMarker::CHostMarker(QSlider* slider) : QWidget(slider), m_slider(slider) {
    setObjectName(QStringLiteral("host:") + slider->objectName());
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(slider->rect());
    slider->installEventFilter(this);
    hide();
}

QString CHostMarker::ComparisonText(int module, int host) {
    const int diff = module - host;
    const QString sign = diff > 0 ? QStringLiteral("+") : QString();
    return QStringLiteral("module %1, host %2 (%3%4)").arg(module).arg(host).arg(sign).arg(diff);
}

void CHostMarker::Show(std::optional<int> host, int module, Verdict verdict) {
    if (host == m_host && (!host || (module == m_module && verdict == m_verdict))) return;
    m_host = host;
    m_module = module;
    m_verdict = verdict;
    setVisible(m_host.has_value());
    update();
}

void CHostMarker::SetCount(int mismatches) {
    if (mismatches == m_count) return;
    m_count = mismatches;
    update();
}

bool CHostMarker::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_slider && event->type() == QEvent::Resize) setGeometry(m_slider->rect());
    return QWidget::eventFilter(watched, event);
}

int CHostMarker::PositionOf(int value) const {
    QStyleOptionSlider option;
    option.initFrom(m_slider);
    option.orientation = m_slider->orientation();
    option.minimum = m_slider->minimum();
    option.maximum = m_slider->maximum();
    option.sliderPosition = value;
    option.sliderValue = value;
    option.upsideDown = m_slider->invertedAppearance() != (m_slider->orientation() == Qt::Vertical);
    const QRect handle = m_slider->style()->subControlRect(QStyle::CC_Slider, &option,
                                                           QStyle::SC_SliderHandle, m_slider);
    return handle.center().y();
}

void CHostMarker::paintEvent(QPaintEvent*) {
    if (!m_host) return;
    ++m_paintCount;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int y = PositionOf(*m_host);
    // Amber when the module disagrees, grey while unsure, a calm blue when it agrees.
    const QColor colour = m_verdict == Verdict::Differs     ? QColor(0xE0, 0x6C, 0x00)
                          : m_verdict == Verdict::Unsettled ? QColor(0x80, 0x80, 0x80)
                                                            : QColor(0x1F, 0x6F, 0xC0);
    if (m_verdict == Verdict::Differs) {
        const int moduleY = PositionOf(m_module);
        QColor band = colour;
        band.setAlpha(70);
        painter.fillRect(
            QRect(QPoint(1, std::min(y, moduleY)), QPoint(width() - 2, std::max(y, moduleY))),
            band);
    }
    // A small triangle on each side pointing at the host's value.
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    const int s = std::max(3, width() / 4);
    const QPointF left[3] = {QPointF(0, y - s), QPointF(s, y), QPointF(0, y + s)};
    const QPointF right[3] = {QPointF(width(), y - s), QPointF(width() - s, y),
                              QPointF(width(), y + s)};
    painter.drawPolygon(left, 3);
    painter.drawPolygon(right, 3);
    if (m_count > 0) {
        // A fault that came and went keeps its count here until cleared.
        const QString text = m_count > 999 ? QStringLiteral("999+") : QString::number(m_count);
        QFont font = painter.font();
        font.setPixelSize(std::max(8, width() * 2 / 3));
        font.setBold(true);
        painter.setFont(font);
        const QRect badge(0, height() - font.pixelSize() - 3, width(), font.pixelSize() + 3);
        painter.setBrush(QColor(0xE0, 0x6C, 0x00));
        painter.drawRoundedRect(badge, 3, 3);
        painter.setPen(Qt::white);
        painter.drawText(badge, Qt::AlignCenter, text);
    }
}
