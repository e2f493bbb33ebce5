#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

class QLabel;

namespace kestrune {

// The reference picture of the serial connector's pins: heading, both DE-9
// connectors, the pin table and its notes. Drawn by the program, the same
// every time.
[[nodiscard]] QImage RenderPinHelpPicture();

// Where a window of `frameSize` designed to open at `designed` goes so that it
// lies wholly on `available` (or at its top-left when it is larger).
[[nodiscard]] QPoint PlaceOnScreen(QPoint designed, QSize frameSize, QRect available);

// A modal window showing the pin picture; it has no controls.
class TfrmPinHelp : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmPinHelp(QWidget *parent = nullptr);

    QLabel *imgPinHelp = nullptr;
};

} // namespace kestrune
