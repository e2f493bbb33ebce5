#include "app/view/RowWrap.h"

namespace kestrune {

TRowWrap::TRowWrap(const THistoryBytes &bytes, const TTextCells &cells, const TFrameMarks *frames,
                   std::size_t width)
    : FBytes(bytes), FCells(cells), FFrames(frames), FWidth(static_cast<std::uint32_t>(width))
{
}

void TRowWrap::Feed(TWrapState &state, TTextPos pos, std::uint64_t toByte, const TEmit &emit) const
{
    const bool lines = FCells.Mode() == dmCharacter;
    const std::uint32_t width = FWidth;
    std::uint64_t byte = ByteOfPos(pos);
    unsigned sub = static_cast<unsigned>(pos % 4);
    bool going = true;
    TCellCursor cursor(FCells, FBytes);
    // The next frame start at or after the first whole byte fed.
    std::uint64_t frame = TFrameMarks::None;
    std::uint64_t frameStart = UINT64_MAX;
    if (FFrames) {
        frame = sub == 0 ? (byte == 0 ? FFrames->Begin() : FFrames->FindAfter(byte - 1))
                         : FFrames->FindAfter(byte);
        if (frame < FFrames->End())
            frameStart = FFrames->PosAt(frame);
    }
    FBytes.ForEachPiece(byte, toByte, [&](const char *data, std::size_t n) {
        for (std::size_t i = 0; i < n && going; ++i, ++byte, sub = 0) {
            if (byte == frameStart && sub == 0) {
                // A frame starts a row of its own; a row already starting
                // here (after a wrap or a line break) is not doubled.
                const TTextPos at = PosOfByte(byte);
                const bool emptyRow = state.RowStart == at && state.Col == 0;
                const TRowSpan ended{state.RowStart, at, true};
                state = TWrapState{};
                state.RowStart = at;
                ++frame;
                frameStart = frame < FFrames->End() ? FFrames->PosAt(frame) : UINT64_MAX;
                if (!emptyRow && !emit(ended)) {
                    going = false;
                    return;
                }
            }
            const TByteCell cell = cursor.At(byte, static_cast<unsigned char>(data[i]));
            const unsigned cells = cell.Width;
            for (; sub < cells; ++sub) {
                const TTextPos at = PosOfByte(byte) + sub;
                const TTextPos next = sub + 1 < cells ? at + 1 : PosOfByte(byte + 1);
                const char c = cell.Unit(sub);
                if (cell.Glyph && sub > 0) {
                    // The second column of a wide character goes where its first went.
                    ++state.Col;
                    continue;
                }
                // A wide character moves to the next row whole.
                const bool wideOver =
                    cell.Glyph && cells > 1 && state.Col > 0 && state.Col + cells > width;
                TRowSpan ended;
                bool hasEnded = false;
                if (lines && (c == '\r' || c == '\n')) {
                    if (c == '\n' && state.AfterCr && at == state.RowStart) {
                        state.RowStart = next; // CR LF is one break
                        state.AfterCr = false;
                        continue;
                    }
                    ended = {state.RowStart, at, true};
                    hasEnded = true;
                    state = TWrapState{};
                    state.RowStart = next;
                    state.AfterCr = c == '\r';
                } else {
                    state.AfterCr = false;
                    if (state.Col >= width || wideOver) {
                        hasEnded = true;
                        if (c == ' ') {
                            // A blank just past the edge hangs there.
                            ended = {state.RowStart, next, false};
                            state = TWrapState{};
                            state.RowStart = next;
                        } else if (state.HasBreak) {
                            ended = {state.RowStart, state.BreakPos, false};
                            state.RowStart = state.BreakPos;
                            state.Col -= state.ColAtBreak;
                            state.HasBreak = false;
                        } else {
                            ended = {state.RowStart, at, false};
                            state.RowStart = at;
                            state.Col = 0;
                        }
                    }
                    if (!hasEnded || c != ' ' || ended.End != next) {
                        ++state.Col;
                        if (c == ' ') {
                            state.HasBreak = true;
                            state.BreakPos = next;
                            state.ColAtBreak = state.Col;
                        }
                    }
                }
                if (hasEnded && !emit(ended)) {
                    going = false;
                    return;
                }
            }
        }
    });
}

} // namespace kestrune
