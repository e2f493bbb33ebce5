#include "app/Dialogs.h"
#include "app/TerminationSignals.h"
#include "net/DRSock.h"
#include "net/SocketError.h"
#include "net/socket_support.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

using namespace kestrune;

namespace {

// Cancels every dialog still open: the time bound of a test whose box did not close.
bool rejectOpenDialogs()
{
    bool any = false;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible()) {
            dialog->reject();
            any = true;
        }
    }
    return any;
}

} // namespace

// A real termination signal while a box without a parent is open (a log that
// cannot be written, say): the box closes and the owner's reaction runs; from
// then on nothing waits for a person (a message goes to standard error) nor
// for a peer (a pending connect ends at once).
TEST(TerminationSignals, CloseEveryBoxAndEndEveryWait)
{
    int reactions = 0;
    auto handlers = std::make_unique<TTerminationSignals>([&] { ++reactions; });
    QObject bound;
    bool rescued = false;
    QTimer::singleShot(10'000, &bound, [&] { rescued = rejectOpenDialogs(); });
    QTimer::singleShot(200, &bound, [] { ::raise(SIGTERM); });
    dialogs::ShowError(nullptr, QStringLiteral("Cannot write the log"));
    EXPECT_FALSE(rescued) << "the box stayed up";
    EXPECT_EQ(reactions, 1);
    EXPECT_TRUE(dialogs::Exiting());

    ::testing::internal::CaptureStderr();
    dialogs::ShowError(nullptr, QStringLiteral("Unable to write to\r\nkestrune.ini"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "kestrune: Error: Unable to write to kestrune.ini\n");

    test::TUnansweredServer server;
    ASSERT_TRUE(server.Full());
    TDRSock sock;
    sock.RemotePort = server.Port();
    std::string error = "connected";
    try {
        sock.StartClient();
    } catch (const ESocketError &e) {
        error = e.what();
    }
    EXPECT_EQ(error, "Error while try establish a TCP connect. Operation canceled");

    handlers.reset();
    dialogs::SetExiting(false);
    test::EndQuitting();
    EXPECT_FALSE(rescued);
}
