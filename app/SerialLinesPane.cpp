#include "app/SerialLinesPane.h"

#include "app/Shortcuts.h"
#include "app/StatusLamp.h"
#include "serial/ModemLines.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace kestrune {

namespace {

struct TLampInfo
{
    const char *Name;
    const char *Caption;
    std::uint32_t Bit;
    const char *Meaning;
};

constexpr std::array<TLampInfo, 4> LampInfo = {{
    {"shpCts", "CTS", ModemLineCts, "Clear to send"},
    {"shpDsr", "DSR", ModemLineDsr, "Data set ready"},
    {"shpDcd", "DCD", ModemLineCarrier, "Carrier detect"},
    {"shpRi", "RI", ModemLineRing, "Ring indicator"},
}};

constexpr int LampSize = 12;

} // namespace

QString LineErrorsCaption(const TLineErrorCounts &counts)
{
    return QStringLiteral("F:%1 P:%2 O:%3 B:%4")
        .arg(counts.Framing)
        .arg(counts.Parity)
        .arg(counts.Overrun)
        .arg(counts.Break);
}

TSerialLinesPane::TSerialLinesPane(std::function<TLineControl *()> source, QWidget *parent)
    : QWidget(parent), FSource(std::move(source))
{
    setObjectName(QStringLiteral("pnlSerialLines"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(3);
    for (std::size_t i = 0; i < LampInfo.size(); ++i) {
        auto *lamp = new TStatusLamp(this);
        lamp->setObjectName(QString::fromLatin1(LampInfo[i].Name));
        lamp->setMinimumSize(0, 0);
        lamp->setFixedSize(LampSize, LampSize);
        auto *caption = new QLabel(QString::fromLatin1(LampInfo[i].Caption), this);
        layout->addWidget(lamp);
        layout->addWidget(caption);
        Lamps[i] = lamp;
    }
    const auto toggle = [this, layout](const char *name, const char *caption) {
        auto *button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(name));
        button->setText(QString::fromLatin1(caption));
        button->setCheckable(true);
        button->setAutoRaise(true);
        layout->addWidget(button);
        return button;
    };
    btnDtr = toggle("btnDtr", "DTR");
    btnDtr->setToolTip(
        WithKey(QStringLiteral("Data terminal ready: click to raise or lower"), DtrKey));
    btnRts = toggle("btnRts", "RTS");
    connect(btnDtr, &QToolButton::clicked, this, [this](bool on) {
        if (TLineControl *line = FSource())
            line->SetDtr(on);
        Refresh();
    });
    connect(btnRts, &QToolButton::clicked, this, [this](bool on) {
        if (TLineControl *line = FSource())
            line->SetRts(on);
        Refresh();
    });

    stpLineErrors = new QLabel(this);
    stpLineErrors->setObjectName(QStringLiteral("stpLineErrors"));
    layout->addWidget(stpLineErrors);

    pmiSendBreak = new QAction(QStringLiteral("Send Break (%1 ms)").arg(BreakMs), this);
    pmiSendBreak->setObjectName(QStringLiteral("pmiSendBreak"));
    // Active while the pane shows, that is while a serial main channel is open.
    pmiSendBreak->setShortcut(BreakKey);
    connect(pmiSendBreak, &QAction::triggered, this, [this] {
        if (TLineControl *line = FSource())
            line->SendBreak(BreakMs);
    });
    addAction(pmiSendBreak);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    // The description pane gives way first; lamps and counts stay readable.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    hide();
}

QColor LineOffColorFor(const QPalette &palette)
{
    const QColor window = palette.color(QPalette::Window);
    return window.lightness() < 128 ? window.darker(160) : LineOffColor;
}

void TSerialLinesPane::Refresh()
{
    TLineControl *line = FSource();
    setVisible(line != nullptr);
    if (!line)
        return;
    const bool present = line->Present();
    btnDtr->setChecked(line->Dtr());
    btnRts->setChecked(line->Rts());
    btnDtr->setEnabled(present);
    btnRts->setEnabled(present && !line->RtsByFlowControl());
    btnRts->setToolTip(
        line->RtsByFlowControl()
            ? QStringLiteral("Request to send: driven by RTS/CTS flow control")
            : WithKey(QStringLiteral("Request to send: click to raise or lower"), RtsKey));
    ShowLines(line->ModemLines());
    ShowErrors(line->LineErrors());
}

void TSerialLinesPane::ShowLines(std::int32_t lines)
{
    for (std::size_t i = 0; i < LampInfo.size(); ++i) {
        const bool known = lines >= 0;
        const bool on = known && (std::uint32_t(lines) & LampInfo[i].Bit) != 0;
        Lamps[i]->SetColor(!known ? LineUnknownColor
                           : on   ? LineOnColor
                                  : LineOffColorFor(palette()));
        Lamps[i]->setToolTip(QStringLiteral("%1 (%2): %3")
                                 .arg(QString::fromLatin1(LampInfo[i].Meaning),
                                      QString::fromLatin1(LampInfo[i].Caption),
                                      !known ? QStringLiteral("not reported by this device")
                                      : on   ? QStringLiteral("on")
                                             : QStringLiteral("off")));
    }
}

void TSerialLinesPane::ShowErrors(const TLineErrorCounts &counts)
{
    stpLineErrors->setText(LineErrorsCaption(counts));
    stpLineErrors->setToolTip(
        QStringLiteral("Line errors since Start: %1 framing, %2 parity, %3 overrun, %4 break")
            .arg(counts.Framing)
            .arg(counts.Parity)
            .arg(counts.Overrun)
            .arg(counts.Break));
}

} // namespace kestrune
