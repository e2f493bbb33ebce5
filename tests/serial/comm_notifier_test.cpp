// The hand-over of notifications from the port's threads to the GUI thread:
// queued notices are delivered one at a time, in order, each once, with one
// wake for whatever gathered, and without starving the rest of the GUI.

#include "comm_test_pty.h"

#include "serial/CommNotifier.h"

#include <QEvent>
#include <QObject>
#include <gtest/gtest.h>
#include <thread>

namespace kestrune {
namespace {

using namespace kestrune::testing;

TCommNotice DataNotice(const std::string &Bytes)
{
    TCommNotice notice;
    notice.Block.reset(new char[Bytes.size() + 1]);
    Bytes.copy(notice.Block.get(), Bytes.size());
    notice.Block[Bytes.size()] = 0;
    notice.Count = std::uint16_t(Bytes.size());
    return notice;
}

TCommNotice MessageNotice(TCommMessage Message, std::uint32_t Value = 0)
{
    TCommNotice notice;
    notice.Message = Message;
    notice.Value = Value;
    return notice;
}

// Counts the wake events that reach the notifier.
class TWakeCounter : public QObject
{
public:
    int Wakes = 0;

protected:
    bool eventFilter(QObject *, QEvent *Event) override
    {
        if (Event->type() == TCommNotifier::WakeType)
            ++Wakes;
        return false;
    }
};

// Stands for any other GUI work posted while notices are being delivered.
class TMarker : public QObject
{
public:
    explicit TMarker(std::vector<std::string> &Log) : FLog(Log) {}

protected:
    bool event(QEvent *Event) override
    {
        if (Event->type() != QEvent::User)
            return QObject::event(Event);
        FLog.push_back("marker");
        return true;
    }

private:
    std::vector<std::string> &FLog;
};

class CommNotifierTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Notifier.installEventFilter(&Counter);
        Comm.OnReceiveData = [this](TComm *, const char *Buffer, std::uint16_t Length) {
            Log.emplace_back(Buffer, Length);
            if (OnData)
                OnData(Log.back());
        };
        Comm.OnReceiveError = [this](TComm *, std::uint32_t Mask) {
            Log.push_back("error " + std::to_string(Mask));
        };
        Comm.OnSendDataEmpty = [this](TComm *) { Log.push_back("sent"); };
        Comm.OnRequestHangup = [this](TComm *) { Log.push_back("hangup"); };
    }

    TComm Comm;
    TCommNotifier Notifier{&Comm};
    TWakeCounter Counter;
    std::vector<std::string> Log;
    std::function<void(const std::string &)> OnData;
};

TEST_F(CommNotifierTest, NoticesGatheredBeforeTheLoopRunsTakeOneWakeAndArriveOnceInOrder)
{
    std::vector<TCommNotice> blocks;
    blocks.push_back(DataNotice("one"));
    blocks.push_back(DataNotice("two"));
    Notifier.Enqueue(blocks);
    EXPECT_TRUE(blocks.empty()) << "the batch is handed over, not copied";
    Notifier.Enqueue(MessageNotice(TCommMessage::Error, 8));
    blocks.push_back(DataNotice("three"));
    Notifier.Enqueue(blocks);
    Notifier.Enqueue(MessageNotice(TCommMessage::Sent));
    std::vector<TCommNotice> none;
    Notifier.Enqueue(none);

    QCoreApplication::sendPostedEvents(&Notifier);
    EXPECT_EQ(Counter.Wakes, 1);
    EXPECT_EQ(Log, (std::vector<std::string>{"one", "two", "error 8", "three", "sent"}));

    QCoreApplication::sendPostedEvents(&Notifier);
    EXPECT_EQ(Log.size(), 5u) << "a notice delivered twice";
}

TEST_F(CommNotifierTest, NoticesQueuedDuringDeliveryWaitBehindOtherPostedWork)
{
    TMarker marker(Log);
    OnData = [&](const std::string &Block) {
        if (Block != "first")
            return;
        QCoreApplication::postEvent(&marker, new QEvent(QEvent::User));
        Notifier.Enqueue(DataNotice("second"));
    };
    Notifier.Enqueue(DataNotice("first"));
    // Each pass sends only what was posted before it began.
    for (int pass = 0; pass < 3; ++pass)
        QCoreApplication::sendPostedEvents();
    // A drain that took the newcomer too would let a flood keep the GUI thread.
    EXPECT_EQ(Log, (std::vector<std::string>{"first", "marker", "second"}));
    EXPECT_EQ(Counter.Wakes, 2);
}

TEST_F(CommNotifierTest, HandlerRunningAnEventLoopSeesTheRestInOrder)
{
    OnData = [&](const std::string &Block) {
        if (Block != "a")
            return;
        Notifier.Enqueue(DataNotice("d"));
        QCoreApplication::sendPostedEvents(&Notifier);
    };
    std::vector<TCommNotice> blocks;
    for (const char *bytes : {"a", "b", "c"})
        blocks.push_back(DataNotice(bytes));
    Notifier.Enqueue(blocks);
    QCoreApplication::sendPostedEvents(&Notifier);
    QCoreApplication::sendPostedEvents(&Notifier);
    EXPECT_EQ(Log, (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(CommNotifierTest, NoticesFromTwoThreadsKeepEachThreadsOrder)
{
    constexpr int PerThread = 3000;
    const auto produce = [&](char Tag) {
        std::vector<TCommNotice> batch;
        for (int i = 0; i < PerThread; ++i) {
            batch.push_back(DataNotice(Tag + std::to_string(i)));
            // Batches of 1 to 7, and single notices between them.
            if (i % 7 == 3) {
                Notifier.Enqueue(batch);
                Notifier.Enqueue(MessageNotice(TCommMessage::Sent));
            }
        }
        Notifier.Enqueue(batch);
    };
    std::thread reader(produce, 'r');
    std::thread writer(produce, 'w');
    const bool all = WaitUntil([&] {
        std::size_t data = 0;
        for (const auto &entry : Log)
            data += entry != "sent";
        return data >= 2 * PerThread;
    });
    reader.join();
    writer.join();
    QCoreApplication::sendPostedEvents(&Notifier);
    ASSERT_TRUE(all);

    int next[2] = {0, 0};
    int sent = 0;
    for (const auto &entry : Log) {
        if (entry == "sent") {
            ++sent;
            continue;
        }
        const int which = entry[0] == 'r' ? 0 : 1;
        ASSERT_EQ(std::stoi(entry.substr(1)), next[which]) << entry;
        ++next[which];
    }
    EXPECT_EQ(next[0], PerThread);
    EXPECT_EQ(next[1], PerThread);
    EXPECT_EQ(sent, 2 * ((PerThread + 3) / 7));
}

} // namespace
} // namespace kestrune
