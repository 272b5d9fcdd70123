#include "ui/save_hex_command.h"

#include <QFile>
#include <QString>
#include <mutex>

#include "engine/shared_state.h"
#include "files/hex_net_file.h"
#include "ui/dialog_seams.h"

void RunSaveHexNetFileCommand(QWidget* owner, DialogSeams& dialogs) {
    const FlashBankChoice choice = dialogs.RunFlashBankDialog(owner);
    if (!choice.bConfirmed) return;
    const std::uint16_t startAddress = choice.wStartAddress;
    const HexFileFormat format = choice.nFormat;

    const QString path = dialogs.GetSaveFileName(owner, QString::fromLatin1(HexFileSuffix(format)));
    if (path.isEmpty()) return;

    HexNetFileExport file(QFile::encodeName(path).toStdString());
    const FileResult opened = file.Open();
    if (opened != FileResult::Ok) {
        dialogs.ShowMessage(owner, QString::fromLatin1(FileResultText(opened)));
        return;
    }
    {
        const std::lock_guard<std::recursive_mutex> lock(g_State.hMutex);
        file.WriteRecords(g_State.sModuleWeights, startAddress, format);
    }
    const FileResult result = file.Finish();
    if (result != FileResult::Ok) {
        dialogs.ShowMessage(owner, QString::fromLatin1(FileResultText(result)));
        return;
    }
    dialogs.ShowMessage(
        owner, QString::fromStdString(HexExportSuccessText(path.toStdString(), startAddress)));
}
