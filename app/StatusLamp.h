#pragma once

#include <QColor>
#include <QWidget>

namespace kestrune {

// The round status lamp: red while closed, green while listening, lime while open,
// yellow while a serial main channel waits for its device.
class TStatusLamp : public QWidget
{
    Q_OBJECT

public:
    explicit TStatusLamp(QWidget *parent = nullptr);

    [[nodiscard]] QColor Color() const { return FColor; }
    void SetColor(const QColor &color);
    [[nodiscard]] QSize sizeHint() const override { return {25, 25}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor FColor{255, 0, 0};
};

inline const QColor LampRed{255, 0, 0};
inline const QColor LampGreen{0, 128, 0};
inline const QColor LampLime{0, 255, 0};
// A serial port waiting for its device to return.
inline const QColor LampYellow{255, 255, 0};

} // namespace kestrune
