#include "ui/verify_hex_command.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>

#include "engine/engine.h"
#include "ui/dialog_seams.h"
#include "ui/off_ui_thread.h"

namespace {

// A message box is no list: the rest is for pelkora-cli verify.
constexpr int kShownDifferences = 8;

}  // namespace

QString VerifyHexMessage(const FlashImageRead& read, const ModuleWeights& loaded,
                         const QString& name) {
    const QString where = name.isEmpty() ? QString() : name + QStringLiteral(": ");
    if (read.error == ImageError::OpenFailed || read.error == ImageError::ReadFailed) {
        const QString text = QString::fromLatin1(FlashImageErrorText(read).c_str());
        return name.isEmpty() ? text : text + QStringLiteral(": ") + name;
    }
    if (!read.Ok()) {
        return QStringLiteral("The image is not well formed: %1%2")
            .arg(where, QString::fromStdString(FlashImageErrorText(read)));
    }
    QStringList lines;
    lines << QStringLiteral("The image is well formed: %1, bank %2, %3 records.")
                 .arg(QString::fromLatin1(HexFileFormatName(read.image.format)),
                      QString::fromStdString(FlashBankName(read.image.wStartAddress)))
                 .arg(read.image.recordCount);
    const std::vector<WeightDifference> differences = CompareWeights(read.image.weights, loaded);
    if (differences.empty()) {
        lines << QStringLiteral("It holds the weights loaded now.");
        return lines.join(QLatin1Char('\n'));
    }
    lines << QStringLiteral("%1 of %2 weights differ from the weights loaded now:")
                 .arg(differences.size())
                 .arg(NET_WEIGHT_COUNT);
    const int shown = std::min<int>(kShownDifferences, static_cast<int>(differences.size()));
    for (int n = 0; n < shown; ++n) {
        lines << QString::fromStdString(WeightDifferenceText(differences[n]));
    }
    if (shown < static_cast<int>(differences.size())) lines << QStringLiteral("...");
    return lines.join(QLatin1Char('\n'));
}

void RunVerifyHexNetFileCommand(QWidget* owner, DialogSeams& dialogs, Engine& engine) {
    const QString path = dialogs.GetOpenImageFileName(owner);
    if (path.isEmpty()) return;
    // Off the UI thread: the image may be a FIFO whose writer is slow.
    const std::string file = QFile::encodeName(path).toStdString();
    const FlashImageRead read = RunOffUiThread([&file] { return ReadFlashImageFile(file); });
    dialogs.ShowMessage(
        owner, VerifyHexMessage(read, engine.CopyModuleWeights(), QFileInfo(path).fileName()));
}
