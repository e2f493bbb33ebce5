#pragma once

namespace kestrune {

// Base of the transports (serial port component, socket endpoint). A channel
// owns its transport through this base; `Tag` tells the receive path where a
// block came from: 0 for the main channel's transport, 1 for a relay's.
class TComponent
{
public:
    TComponent() = default;
    TComponent(const TComponent &) = delete;
    TComponent &operator=(const TComponent &) = delete;
    virtual ~TComponent() = default;

    int Tag = 0;
};

} // namespace kestrune
