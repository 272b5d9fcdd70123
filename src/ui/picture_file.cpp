#include "ui/picture_file.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>

#include "files/replace_file.h"

FileResult SavePicturePng(const QImage& picture, const QString& path) {
    // Encoded first: a picture that cannot be encoded touches no file.
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG"))
        return FileResult::WriteFailed;
    FileReplacement file(QFile::encodeName(path).toStdString());
    const FileResult opened = file.Open();
    if (opened != FileResult::Ok) return opened;
    file.Stream().write(png.constData(), png.size());
    return file.Commit();
}
