#pragma once

#include "engine/Channel.h"
#include "session/Transport.h"

#include <functional>
#include <memory>

namespace kestrune {

class TComm;

// The one place that knows which transport serves which channel method.
// Opening throws the transport's own error (ECommsError for a serial port,
// ESocketError for a socket) and leaves nothing open.
//
// onSerialCreated sees every serial component before it opens, so a test can
// stand in for device calls a pty cannot make.
[[nodiscard]] std::unique_ptr<TTransport>
OpenChannelTransport(const TChannel &channel,
                     const std::function<void(TComm &)> &onSerialCreated = {});

} // namespace kestrune
