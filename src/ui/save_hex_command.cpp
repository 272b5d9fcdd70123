#include "ui/save_hex_command.h"

#include <QFile>
#include <QString>
#include <mutex>

#include "engine/shared_state.h"
#include "files/hex_net_file.h"
#include "ui/dialog_seams.h"

void RunSaveHexNetFileCommand(QWidget* owner, DialogSeams& dialogs, SharedState& state) {
    const FlashBankChoice choice = dialogs.RunFlashBankDialog(owner);
    if (!choice.bConfirmed) return;
    const std::uint16_t startAddress = choice.wStartAddress;
    const HexFileFormat format = choice.nFormat;

    const QString path = dialogs.GetSaveFileName(owner, QString::fromLatin1(HexFileSuffix(format)));
    if (path.isEmpty()) return;

    HexNetFileExport file(QFile::encodeName(path).toStdString());
    const HexExportResult opened = file.Open();
    if (opened != HexExportResult::Ok) {
        dialogs.ShowMessage(owner, QString::fromLatin1(HexExportResultText(opened)));
        return;
    }
    {
        const std::lock_guard<std::recursive_mutex> lock(state.hMutex);
        file.WriteRecords(state.sModuleWeights, startAddress, format);
    }
    const HexExportResult result = file.Finish();
    if (result != HexExportResult::Ok) {
        dialogs.ShowMessage(owner, QString::fromLatin1(HexExportResultText(result)));
        return;
    }
    dialogs.ShowMessage(
        owner, QString::fromStdString(HexExportSuccessText(path.toStdString(), startAddress)));
}
