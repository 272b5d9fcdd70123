#include "ui/app_icon.h"

QIcon PelkoraIcon() {
    // Drawn to scale for the sizes between and above the two images (a screen at
    // scale 2), where Qt has its SVG icon engine; the two images otherwise.
    QIcon icon(QStringLiteral(":/pelkora/icons/pelkora.svg"));
    if (icon.pixmap(QSize(32, 32)).isNull()) icon = QIcon();
    icon.addFile(QStringLiteral(":/pelkora/icons/pelkora-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/pelkora/icons/pelkora-32.png"), QSize(32, 32));
    return icon;
}
