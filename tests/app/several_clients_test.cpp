// A TCP server of several clients in the real window: the option is shown
// for a server and saved, the status pane counts the clients, what is sent
// goes to all of them, and with "Show frames" each client's frames carry its
// address, IPv4 clients shown as plain IPv4.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "app/view/HistoryView.h"
#include "common/AppPaths.h"
#include "support/SocatPeer.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <fstream>

using namespace kestrune;
using namespace kestrune::testing;

TEST_F(MainWindowTest, SeveralClientsAreCountedServedAndTagged)
{
    const int port = TSocketPeer::FreePort();
    writeSettings("[Main]\r\nMethod=TCPServer\r\nLocalPort=" + std::to_string(port) +
                  "\r\n[Other]\r\nDataMode=1\r\nSendText=all\r\nShowRecvFrames=1\r\n");
    open();
    window->show();
    auto *several = find<QCheckBox>("chkSeveralClients");
    EXPECT_TRUE(several->isVisible());
    EXPECT_FALSE(several->isChecked()) << "off by default";
    EXPECT_FALSE(find<QCheckBox>("chkReplyToSender")->isVisible()) << "a UDP option";
    several->setChecked(true);
    QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
    ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop")
        << (messages.empty() ? "" : messages[0].text.toStdString());
    EXPECT_EQ(find<QLabel>("stpMain")->text(), QString("TCP Server,%1,several").arg(port));
    auto *status = find<QLabel>("stpStatus");

    test::TSocatPeer six("TCP6:[::1]:" + std::to_string(port));
    ASSERT_TRUE(WaitFor([&] { return status->text() == "Connected (1)"; }))
        << status->text().toStdString();
    test::TSocatPeer four("TCP4:127.0.0.1:" + std::to_string(port));
    ASSERT_TRUE(WaitFor([&] { return status->text() == "Connected (2)"; }))
        << status->text().toStdString();

    ASSERT_TRUE(six.Send("from six"));
    ASSERT_TRUE(WaitFor([&] { return window->Engine().Counters().RecvBytes == 8; }));
    ASSERT_TRUE(four.Send("from four"));
    auto *recv = find<THistoryView>("mmoRecv");
    ASSERT_TRUE(WaitFor([&] {
        window->FlushViewRedraw();
        return recv->Text().find("from four") != std::string::npos;
    }));
    const std::string text = recv->Text();
    EXPECT_NE(text.find(" [::1]:"), std::string::npos) << text;
    EXPECT_NE(text.find(" 127.0.0.1:"), std::string::npos) << text;
    EXPECT_EQ(text.find("::ffff:"), std::string::npos) << text;

    QTest::mouseClick(find<QPushButton>("btnSend"), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return six.Output() == "all" && four.Output() == "all"; }));

    six.CloseInput();
    ASSERT_TRUE(WaitFor([&] { return status->text() == "Connected (1)"; }))
        << status->text().toStdString();
    four.CloseInput();
    ASSERT_TRUE(WaitFor([&] { return status->text() == "Listening"; }))
        << status->text().toStdString();
    std::ifstream login(paths::LoginFilePath(), std::ios::binary);
    const std::string lines{std::istreambuf_iterator<char>(login),
                            std::istreambuf_iterator<char>()};
    EXPECT_NE(lines.find("  [::1]:"), std::string::npos) << lines;
    EXPECT_NE(lines.find("  127.0.0.1:"), std::string::npos) << lines;
    // One visit each: a connect and a disconnect line per client.
    for (const std::string end : {" Connected.", " Disconnected."}) {
        const auto first = lines.find(end);
        EXPECT_TRUE(first != std::string::npos && lines.find(end, first + 1) != std::string::npos &&
                    lines.find(end, lines.find(end, first + 1) + 1) == std::string::npos)
            << lines;
    }

    QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
    close();
    EXPECT_NE(readSettings().find("SeveralClients=1"), std::string::npos);
}
