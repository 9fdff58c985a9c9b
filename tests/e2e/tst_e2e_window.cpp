// The whole app but the device registry: the window lists esp32-sim's port through the fake
// registry, "Burn" is clicked, and the simulated flash must end up holding the bundled image.

#include "SimulatedBoard.h"
#include "UiTestHarness.h"
#include "flash/ESPToolManager.h"
#include "ui/ContentView.h"
#include "ui/ElidedLabel.h"
#include "ui/MainWindow.h"
#include "ui/ToolActionButton.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestEndToEndWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void burnWritesTheImageOntoTheBoard();
};

void TestEndToEndWindow::burnWritesTheImageOntoTheBoard()
{
    QTemporaryDir boardFolder;
    SimulatedBoard board(boardFolder.path());
    QVERIFY(board.start({u"--check-baud"_s}));

    UiTestHarness harness(UiTestHarness::Flasher::bundled);
    harness.plug(board.port(), u"Silicon Labs"_s, u"CP2102"_s);
    harness.window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&harness.window()));
    ContentView& view = harness.view();
    QCOMPARE(view.selectedPort()->path(), board.port());

    QTest::mouseClick(view.findChild<ToolActionButton*>(u"burnButton"_s), Qt::LeftButton);
    QTRY_VERIFY(view.espTool().isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!view.espTool().isRunning(), 120'000);
    QCOMPARE(view.findChild<ElidedLabel*>(u"statusLabel"_s)->text(), u"Status: Ready"_s);

    QFile image(QDir(QString::fromUtf8(TAVIX_RESOURCE_OUTPUT_DIR))
                    .filePath(u"UIFlow-core2-Tavix-V2.2-0x0.bin"_s));
    QVERIFY(image.open(QIODevice::ReadOnly));
    const QByteArray firmware = image.readAll();
    QVERIFY(board.stop().left(firmware.size()) == firmware);
}

QTEST_MAIN(TestEndToEndWindow)
#include "tst_e2e_window.moc"
