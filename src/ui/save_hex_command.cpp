#include "ui/save_hex_command.h"

#include <QFile>
#include <QString>

#include "engine/engine.h"
#include "files/hex_net_file.h"
#include "ui/dialog_seams.h"

void RunSaveHexNetFileCommand(QWidget* owner, DialogSeams& dialogs, Engine& engine) {
    const FlashBankChoice choice = dialogs.RunFlashBankDialog(owner);
    if (!choice.bConfirmed) return;
    const std::uint16_t startAddress = choice.wStartAddress;
    const HexFileFormat format = choice.nFormat;

    const QString path = dialogs.GetSaveFileName(owner, QString::fromLatin1(HexFileSuffix(format)));
    if (path.isEmpty()) return;

    // One consistent set, copied under the lock; the file is written without it, by
    // the writer that pelkora-cli export uses.
    const ModuleWeights weights = engine.CopyModuleWeights();
    const FileResult result =
        ExportHexNetFile(QFile::encodeName(path).toStdString(), weights, startAddress, format);
    if (result != FileResult::Ok) {
        dialogs.ShowMessage(owner, QString::fromLatin1(FileResultText(result)));
        return;
    }
    dialogs.ShowMessage(
        owner, QString::fromStdString(HexExportSuccessText(path.toStdString(), startAddress)));
}
