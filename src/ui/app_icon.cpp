#include "ui/app_icon.h"

#include <QPixmap>

QIcon PelkoraIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/pelkora/icons/pelkora-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/pelkora/icons/pelkora-32.png"), QSize(32, 32));
    // Sharp at scale 1.5 and 2 too: larger images drawn from the scalable picture,
    // where Qt can read SVG (an icon without them scales the 32 x 32 image up).
    const QIcon drawing(QStringLiteral(":/pelkora/icons/pelkora.svg"));
    for (const int size : {48, 64, 128}) {
        const QPixmap pixmap = drawing.pixmap(QSize(size, size));
        if (pixmap.width() == size) icon.addPixmap(pixmap);
    }
    return icon;
}
