#pragma once

#include "session/Transport.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>

class QAction;
class QLabel;
class QToolButton;

namespace kestrune {

class TStatusLamp;

// The status-bar pane of an open serial main channel: lamps for the input
// lines CTS, DSR, DCD and RI, toggles for the outputs DTR and RTS, the line
// errors counted since Start, and a context-menu command that sends a break.
// It asks its source for the line each time, so it never holds on to a link
// that has closed.
class TSerialLinesPane : public QWidget
{
    Q_OBJECT

public:
    static constexpr int BreakMs = 250;

    TSerialLinesPane(std::function<TLineControl *()> source, QWidget *parent = nullptr);

    // Draws everything from the line as it is now; hides the pane when there
    // is no serial line.
    void Refresh();
    // The input lines' levels (ModemLine* bits), -1 when the device cannot tell.
    void ShowLines(std::int32_t lines);
    void ShowErrors(const TLineErrorCounts &counts);

    std::array<TStatusLamp *, 4> Lamps{}; // shpCts, shpDsr, shpDcd, shpRi
    QToolButton *btnDtr = nullptr;
    QToolButton *btnRts = nullptr;
    QLabel *stpLineErrors = nullptr;
    QAction *pmiSendBreak = nullptr;

private:
    std::function<TLineControl *()> FSource;
};

// Colours of a line lamp: the line on, off, or not reported by the device.
inline const QColor LineOnColor{0, 255, 0};
inline const QColor LineOffColor{96, 96, 96};
inline const QColor LineUnknownColor{224, 224, 224};
// The off colour on a palette: on a dark one the grey above would look lit,
// so an off lamp is a shade darker than the window there.
[[nodiscard]] QColor LineOffColorFor(const QPalette &palette);

// "F:1 P:0 O:2 B:0": framing, parity, overrun and break errors.
[[nodiscard]] QString LineErrorsCaption(const TLineErrorCounts &counts);

} // namespace kestrune
