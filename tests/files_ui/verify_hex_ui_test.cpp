// "Verify hexadecimal net file..." in the main window, behind fake dialogs.

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "engine/engine.h"
#include "engine_test_peer.h"
#include "files/hex_net_file.h"
#include "ui/dev_tool_dlg.h"
#include "ui/fake_seams.h"

namespace {

ModuleWeights Ramp() {
    ModuleWeights weights{};
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) weights[n] = static_cast<std::int16_t>(n * 7 - 900);
    return weights;
}

QString WriteImage(const QTemporaryDir& dir, const char* name, const std::string& text) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    std::ofstream(QFile::encodeName(path).toStdString(), std::ios::binary) << text;
    return path;
}

std::string Image(const ModuleWeights& weights, std::uint16_t start, HexFileFormat format) {
    std::ostringstream out;
    if (!WriteHexNetFile(out, weights, start, format)) return {};
    return out.str();
}

}  // namespace

class VerifyHexUiTest : public QObject {
    Q_OBJECT

private slots:
    void menuKeepsItsItemsAndAddsVerify() {
        FakeSeams seams;
        Engine engine;
        CDevToolDlg dlg(engine, seams);
        QMenu* file = dlg.findChild<QMenuBar*>()->actions().constFirst()->menu();
        QStringList texts;
        for (QAction* action : file->actions()) texts << action->text();
        QCOMPARE(texts, (QStringList{"&Load ASCII net file", "&Save hexadecimal net file",
                                     "&Verify hexadecimal net file...", "&Train network...", "",
                                     "&Record values...", "", "&Quit"}));
    }

    void verifyShowsBankAndDifferences() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const ModuleWeights loaded = Ramp();
        ModuleWeights other = loaded;
        other[16] = 5;
        std::string damaged = Image(loaded, 0xB000, FORMAT_S19);
        damaged[damaged.find("\r\n", 20) - 1] ^= 1;  // checksum of line 2

        const struct {
            QString path;
            QString message;
        } cases[] = {
            {QString(), QString()},
            {WriteImage(dir, "same.hex", Image(loaded, 0xC400, FORMAT_HEX)),
             "The image is well formed: Intel HEX, bank C400, 72 records.\n"
             "It holds the weights loaded now."},
            {WriteImage(dir, "other.s19", Image(other, 0xDC00, FORMAT_S19)),
             "The image is well formed: Motorola S-record, bank DC00, 72 records.\n"
             "1 of 280 weights differ from the weights loaded now:\n"
             "weight 17 (hidden layer, neuron 1, input 2): image 5, net -788"},
            {WriteImage(dir, "bad.s19", damaged),
             "The image is not well formed: bad.s19: line 2: bad checksum"},
            {dir.filePath(QStringLiteral("missing.s19")), "Error opening file: missing.s19"},
            {dir.path(), "Error reading file: " + QFileInfo(dir.path()).fileName()},  // a folder
        };
        for (const auto& c : cases) {
            FakeSeams seams;
            seams.openAnswer = c.path;
            Engine engine;
            auto dlg = std::make_unique<CDevToolDlg>(engine, seams);
            {
                std::lock_guard lock(EngineTestPeer::State(engine).hMutex);
                EngineTestPeer::State(engine).sModuleWeights = loaded;
            }
            dlg->findChild<QAction*>(QStringLiteral("ID_FILE_VERIFY_HEX"))->trigger();
            QCOMPARE(seams.openAsked, 1);
            QCOMPARE(seams.messages, c.message.isEmpty() ? QStringList{} : QStringList{c.message});
            dlg.reset();
            QVERIFY(engine.WaitForWorker(std::chrono::milliseconds(0)));  // stopped with the window
        }
    }
};

QTEST_MAIN(VerifyHexUiTest)
#include "verify_hex_ui_test.moc"
