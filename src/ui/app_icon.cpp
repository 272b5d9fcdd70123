#include "ui/app_icon.h"

QIcon PelkoraIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/pelkora/icons/pelkora-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/pelkora/icons/pelkora-32.png"), QSize(32, 32));
    return icon;
}
