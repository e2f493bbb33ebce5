#pragma once

#include "codec/DataMode.h"
#include "encoding/TextEncoding.h"
#include "exchange/BoundedHistory.h"
#include "exchange/FrameIndex.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kestrune {

// Follows one history and its frame marks and writes each frame as one line:
// "HH:mm:ss.zzz main < 01 03 02 00 2A". A frame is written once it is whole:
// when the next one begins, or, for a frame that may still grow (a serial
// line's run of reads), when Flush is called after its silence.
class TFramePrinter
{
public:
    struct TSource
    {
        const TBoundedHistory *History = nullptr;
        const TFrameMarks *Frames = nullptr;
        bool Send = false; // '>' instead of '<'
    };
    using TSink = std::function<void(const std::string &line)>;
    // True when the channel of `origin` (0 main, i + 1 relay i) delivers whole
    // frames, so its last frame needs no wait.
    using TWholeFrames = std::function<bool(std::uint16_t origin)>;

    TFramePrinter(TSource source, TSink sink, TWholeFrames wholeFrames);

    void SetMode(TDataMode mode, char escChar, TEncoding encoding = TEncoding::Latin1)
    {
        FMode = mode;
        FEscChar = escChar;
        FEncoding = encoding;
    }

    // Writes every frame that is whole by now.
    void Update() { Drain(false); }
    // Writes everything not yet written, the last frame too.
    void Flush() { Drain(true); }
    // True while the last frame waits for its end.
    [[nodiscard]] bool Pending() const;

    // The line of one frame. Text in an encoding other than Latin-1 is
    // decoded as the views decode it (UTF-8 out); Latin-1 keeps the bytes.
    [[nodiscard]] static std::string FrameLine(std::int64_t timeMs, std::uint16_t origin, bool send,
                                               const ByteString &bytes, TDataMode mode,
                                               char escChar,
                                               TEncoding encoding = TEncoding::Latin1);

private:
    void Drain(bool all);

    TSource FSource;
    TSink FSink;
    TWholeFrames FWholeFrames;
    TDataMode FMode = dmHex;
    char FEscChar = '{';
    TEncoding FEncoding = TEncoding::Latin1;
    std::uint64_t FPrintedTo = 0; // history position written up to
};

} // namespace kestrune
