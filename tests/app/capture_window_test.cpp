// "Capture to file..." and "Export CSV..." as the window offers them.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "app/view/HistoryView.h"
#include "support/CaptureReader.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

using namespace kestrune;
using namespace kestrune::testing;

class CaptureWindowTest : public MainWindowTest
{
};

// The box asks for the file and captures both ways; the receive view's menu
// writes its frames as CSV; the choice is saved, and the next run captures
// again without asking, into a new file beside the last one.
TEST_F(CaptureWindowTest, CapturesExportsAndResumesIntoAFreshFile)
{
    TSocketPeer peer;
    ASSERT_TRUE(peer.BindUdp());
    const int port = TSocketPeer::FreePort(true);
    writeSettings("[Main]\r\nMethod=UDP\r\nIPAddr=127.0.0.1\r\nLocalPort=" + std::to_string(port) +
                  "\r\nRemotePort=" + std::to_string(peer.Port()) + "\r\n");
    const QString capture = dir.filePath("win.pcapng");
    const QString csv = dir.filePath("recv.csv");
    QString answer = capture;
    dialogs::SetSaveFileHook([&](const QString &, const QString &) { return answer; });
    open();
    find<QCheckBox>("chkCapture")->setChecked(true);
    QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
    ASSERT_TRUE(peer.SendTo("hello", port));
    ASSERT_TRUE(WaitFor([&] { return find<QLabel>("stpRecv")->text() == "Recv: 5B."; }));
    QTest::mouseClick(find<QPushButton>("btnSend"), Qt::LeftButton);
    ASSERT_EQ(peer.Read(8), "Marlowen");

    answer = csv;
    {
        std::unique_ptr<QMenu> menu(find<THistoryView>("mmoRecv")->CreateContextMenu());
        auto *exportCsv = menu->findChild<QAction *>("pmiExportCsv");
        ASSERT_NE(exportCsv, nullptr);
        exportCsv->trigger();
    }
    const std::string rows = ReadWholeFile(csv.toStdString()).value_or("");
    EXPECT_NE(rows.find(",main,received,5,68 65 6C 6C 6F,hello\r\n"), std::string::npos) << rows;

    QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
    close();
    EXPECT_NE(readSettings().find("CaptureToFile=1\r\nCaptureFile=" + capture.toStdString()),
              std::string::npos);
    EXPECT_EQ(TsharkRows(capture.toStdString(),
                         {"frame.packet_flags_direction", "udp.dstport", "udp.payload"}),
              (std::vector<std::string>{"0x00000001|" + std::to_string(port) + "|68656c6c6f",
                                        "0x00000002|" + std::to_string(peer.Port()) +
                                            "|4d61726c6f77656e"}));

    const qint64 firstSize = QFileInfo(capture).size();
    answer.clear(); // no dialog may be needed now
    open();
    EXPECT_TRUE(find<QCheckBox>("chkCapture")->isChecked());
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("win-1.pcapng")));
    EXPECT_EQ(QFileInfo(capture).size(), firstSize);
    find<QCheckBox>("chkCapture")->setChecked(false);
    close();
    EXPECT_NE(readSettings().find("CaptureToFile=0"), std::string::npos);
    EXPECT_TRUE(messages.empty());
}
