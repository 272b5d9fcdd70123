#pragma once
// Icon 128, the application's icon: a 32 x 32 and a 16 x 16 image, shipped as a
// Qt resource. UI thread only (QIcon/QPixmap need the application object).

#include <QIcon>

[[nodiscard]] QIcon PelkoraIcon();
