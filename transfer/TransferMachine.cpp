#include "transfer/TransferMachine.h"

#include <algorithm>

namespace kestrune {

TTransferTimeouts TTransferTimeouts::WithTry(std::int64_t tryMs)
{
    TTransferTimeouts t;
    tryMs = std::max<std::int64_t>(tryMs, 1);
    const TTransferTimeouts defaults;
    // The other waits keep their ratio to a try, the silence in a block is
    // never longer than a try.
    t.TryMs = tryMs;
    t.StartMs = defaults.StartMs * tryMs / defaults.TryMs;
    t.PromptMs = std::max<std::int64_t>(defaults.PromptMs * tryMs / defaults.TryMs, 1);
    t.CharMs = std::min(defaults.CharMs, tryMs);
    return t;
}

std::string TTransferTimeouts::Text(std::int64_t ms)
{
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

ByteString TTransferMachine::TakeOutput()
{
    ByteString out;
    out.swap(FOutput);
    return out;
}

void TTransferMachine::Succeed(std::string message)
{
    FState = TTransferState::Done;
    FMessage = std::move(message);
    FDeadline.reset();
}

void TTransferMachine::Fail(std::string message)
{
    if (FState != TTransferState::Running)
        return;
    FState = TTransferState::Failed;
    FMessage = std::move(message);
    FDeadline.reset();
}

} // namespace kestrune
