// Judging the frames the main channel receives: by the chosen check, then by
// the answer rules, as the device on the other end of the link would.
#include "engine/Engine.h"

#include "codec/Checks.h"

#include <algorithm>

namespace kestrune {

namespace {

// An open frame up to this long is tried for a verified end at every read:
// Modbus RTU's largest frame is 256 bytes, and longer ones wait for the gap.
constexpr std::size_t EarlyFrameLimit = 256;

} // namespace

std::optional<std::string> TEngine::SetAnswerRules(const std::string &path)
{
    if (auto error = FAnswerRules.Load(path, FSettings.General.EscChar()))
        return "Cannot read the rules file \"" + path + "\": " + *error;
    FSettings.General.AnswerRulesFile = path;
    FSettings.General.AnswerRules = true;
    return std::nullopt;
}

std::optional<std::string> TEngine::SetAnswering(bool on)
{
    if (on) {
        if (auto error = SetAnswerRules(FSettings.General.AnswerRulesFile))
            return error;
    }
    FSettings.General.AnswerRules = on;
    if (!Judging())
        DropOpenFrame();
    return std::nullopt;
}

void TEngine::SetVerifyChecks(bool on)
{
    FSettings.General.VerifyChecks = on;
    if (!Judging())
        DropOpenFrame();
}

void TEngine::ReloadAnswerRules()
{
    const TGeneralSettings &g = FSettings.General;
    if (!g.AnswerRules || g.AnswerRulesFile.empty())
        return;
    // The rules read before stay when the file went away meanwhile.
    if (auto error = FAnswerRules.Load(g.AnswerRulesFile, g.EscChar()))
        Status("Cannot read the rules file \"" + g.AnswerRulesFile + "\": " + *error);
}

void TEngine::ResetJudgedCounts()
{
    FAnsweredFrames = 0;
    FBadFrames = 0;
    FAnswerRules.ResetHits();
}

bool TEngine::Judging() const
{
    const TGeneralSettings &g = FSettings.General;
    return (g.VerifyChecks && g.Check != ckNone) ||
           (g.AnswerRules && !FAnswerRules.Rules().empty());
}

void TEngine::DropOpenFrame()
{
    FOpenFrame.reset();
    FFrameQuiet->stop();
    // Answers not yet due are not sent on a link that closed.
    FPendingAnswers = std::make_unique<QObject>();
}

int TEngine::FrameQuietMs() const
{
    const TChannel &main = FSettings.Main;
    std::int64_t ns = FrameGapNs(main);
    // A serial read is handed on only after its interval of silence: that much
    // of the gap has passed already.
    if (main.Method == cmSerial && main.ReadIntervalTimeout < UINT32_MAX)
        ns -= std::min<std::int64_t>(std::int64_t(main.ReadIntervalTimeout) * 1'000'000, ns);
    return static_cast<int>((ns + 999'999) / 1'000'000);
}

void TEngine::JudgeReceived(bool fromRelay, std::uint64_t start, std::size_t length)
{
    if (fromRelay) {
        // A relay's bytes end the main channel's frame, as they do in the view.
        JudgeOpenFrame();
        return;
    }
    if (length == 0)
        return;
    const std::uint64_t end = start + length;
    if (!FSession.Delivering().Quiet) {
        // A datagram or a socket read is a frame of its own.
        JudgeOpenFrame();
        Judge(start, end);
        return;
    }
    // The frames the index began within the block, found from its end.
    std::uint64_t seq = FRecvFrames.End();
    while (seq > FRecvFrames.Begin() && FRecvFrames.PosAt(seq - 1) >= start)
        --seq;
    for (; seq < FRecvFrames.End(); ++seq) {
        const std::uint64_t pos = FRecvFrames.PosAt(seq);
        if (FOpenFrame)
            Judge(*FOpenFrame, pos);
        FOpenFrame = pos;
    }
    // Bytes that go on a frame judged already (its gap timed out a little
    // early, or its check verified) are the tail of that frame: no frame of
    // their own.
    if (!FOpenFrame)
        return;
    if (OpenFrameVerified()) {
        FRecvFrameWhole = true;
        JudgeOpenFrame();
        return;
    }
    FFrameQuiet->start(FrameQuietMs());
}

bool TEngine::OpenFrameVerified() const
{
    // A device answers once a frame's check verifies, without waiting for the
    // silence after it. Only a check of 16 bits or more tells a frame's end
    // from a chance match (one in 65,536); shorter ones wait for the gap.
    const TGeneralSettings &g = FSettings.General;
    const auto check = static_cast<TCheckKind>(g.Check);
    if (!g.VerifyChecks || !g.AnswerRules || CheckSize(check) < 2 || !FOpenFrame ||
        FRecvHistory.End() - *FOpenFrame > EarlyFrameLimit || *FOpenFrame < FRecvHistory.Begin())
        return false;
    return EndsWithCheck(FRecvHistory.Copy(*FOpenFrame, FRecvHistory.End()), check);
}

void TEngine::JudgeOpenFrame()
{
    FFrameQuiet->stop();
    if (!FOpenFrame)
        return;
    const std::uint64_t from = *FOpenFrame;
    FOpenFrame.reset();
    Judge(from, FRecvHistory.End());
}

void TEngine::Judge(std::uint64_t from, std::uint64_t to)
{
    // A frame whose front the history has dropped cannot be judged whole.
    if (from < FRecvHistory.Begin() || to <= from)
        return;
    const ByteString frame = FRecvHistory.Copy(from, to);
    const TGeneralSettings &g = FSettings.General;
    const auto check = static_cast<TCheckKind>(g.Check);
    if (g.VerifyChecks && !EndsWithCheck(frame, check)) {
        // A device ignores a frame that fails its check: no answer.
        ++FBadFrames;
        FBadPositions.push_back(from);
        const std::uint64_t kept =
            FRecvFrames.Empty() ? FRecvHistory.Begin() : FRecvFrames.PosAt(FRecvFrames.Begin());
        while (!FBadPositions.empty() && FBadPositions.front() < kept)
            FBadPositions.pop_front();
        if (OnFramesJudged)
            OnFramesJudged();
        return;
    }
    if (!g.AnswerRules)
        return;
    if (const TAnswerRule *rule = FAnswerRules.Answer(frame)) {
        ++FAnsweredFrames;
        SendAnswer(*rule);
        if (OnFramesJudged)
            OnFramesJudged();
    }
}

void TEngine::SendAnswer(const TAnswerRule &rule)
{
    const ByteString frame = SendFrame(rule.Reply);
    // Nothing to send is an answer of silence; a serial port refuses empty writes.
    if (frame.empty())
        return;
    if (rule.DelayMs <= 0) {
        Transmit(frame);
        return;
    }
    auto *timer = new QTimer(FPendingAnswers.get());
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, [this, timer, frame] {
        timer->deleteLater();
        Transmit(frame);
    });
    timer->start(rule.DelayMs);
}

} // namespace kestrune
