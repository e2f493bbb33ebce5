// Text and keyboard: the encoding of Character and Mixed text, the quick-send
// buttons, the window's shortcuts, the Hex-mode hint of the Data box, and the
// window's size and place.
#include "app/MainFrm.h"
#include "app/QuickSendBar.h"
#include "app/SerialLinesPane.h"
#include "app/Shortcuts.h"
#include "app/WidgetKit.h"
#include "app/view/HistoryView.h"
#include "encoding/TypedText.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>

namespace kestrune {

void TfrmMain::BuildTextParts()
{
    cboEncoding = dropDown("cboEncoding");
    for (const char *name : EncodingNames)
        cboEncoding->addItem(QString::fromLatin1(name));
    cboEncoding->setToolTip(QStringLiteral("How Character and Mixed text is shown and typed"));
    if (auto *form = qobject_cast<QFormLayout *>(pnlSet->layout())) {
        int row = -1;
        QFormLayout::ItemRole role{};
        form->getWidgetPosition(cboCheck, &row, &role);
        form->insertRow(row + 1, QStringLiteral("Encoding:"), cboEncoding);
    }

    pnlQuickSend = new TQuickSendBar;
    if (auto *area = qobject_cast<QBoxLayout *>(pnlCommand->parentWidget()->layout()))
        area->insertWidget(area->indexOf(pnlCommand) + 1, pnlQuickSend);
    // The bar is hidden until its first button: the send area offers to add one.
    pnlCommand->setContextMenuPolicy(Qt::CustomContextMenu);

    btnStart->setToolTip(WithKey(QStringLiteral("Opens or closes the main channel"), StartStopKey));
    btnClearAll->setToolTip(WithKey(QStringLiteral("Clears both views"), ClearAllKey));
}

void TfrmMain::ConnectTextHandlers()
{
    connect(cboEncoding, &QComboBox::currentIndexChanged, this, [this] { cboEncodingChange(); });
    connect(cboSend, &QComboBox::editTextChanged, this, [this] { ShowHexHint(); });
    connect(cboDataMode, &QComboBox::currentIndexChanged, this, [this] { ShowHexHint(); });
    connect(pnlQuickSend, &TQuickSendBar::pressed, this, [this](int index) { SendQuick(index); });
    connect(pnlQuickSend, &TQuickSendBar::changed, this,
            [this] { FEngine.General().QuickSends = pnlQuickSend->Buttons(); });
    connect(pnlCommand, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        pnlQuickSend->CreateMenu(-1, this)->popup(pnlCommand->mapToGlobal(at));
    });
    for (QRadioButton *rb : {rbSerial, rbUDP, rbTCPServer, rbTCPClient}) {
        connect(rb, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                KeepHeightOnMethodSwitch(height());
        });
    }

    const auto shortcut = [this](const QKeySequence &key, const char *name, auto action) {
        auto *s = new QShortcut(key, this);
        s->setObjectName(QString::fromLatin1(name));
        connect(s, &QShortcut::activated, this, action);
    };
    const auto clickIfOn = [](QAbstractButton *button) {
        if (button && button->isVisible() && button->isEnabled())
            button->click();
    };
    shortcut(StartStopKey, "keyStartStop", [this, clickIfOn] { clickIfOn(btnStart); });
    shortcut(ClearAllKey, "keyClearAll", [this, clickIfOn] { clickIfOn(btnClearAll); });
    shortcut(FindKey, "keyFind",
             [this] { (mmoSend->hasFocus() ? mmoSend : mmoRecv)->ShowFindBar(); });
    shortcut(DtrKey, "keyDtr", [this, clickIfOn] { clickIfOn(pnlSerialLines->btnDtr); });
    shortcut(RtsKey, "keyRts", [this, clickIfOn] { clickIfOn(pnlSerialLines->btnRts); });
    for (int i = 0; i < static_cast<int>(MaxQuickSends); ++i) {
        auto *key = new QShortcut(QKeySequence(Qt::Key_F1 + i), this);
        key->setObjectName(QStringLiteral("keyQuickSend%1").arg(i + 1));
        connect(key, &QShortcut::activated, this, [this, i] { pnlQuickSend->Press(i); });
        // Only keys of defined buttons are taken from the widgets.
        const auto enable = [this, key, i] {
            key->setEnabled(static_cast<std::size_t>(i) < pnlQuickSend->Buttons().size());
        };
        enable();
        connect(pnlQuickSend, &TQuickSendBar::changed, key, enable);
        connect(pnlQuickSend, &TQuickSendBar::buttonsShown, key, enable);
    }
}

void TfrmMain::ShowTextSettings()
{
    const TGeneralSettings &g = FEngine.General();
    {
        const QSignalBlocker quiet(cboEncoding);
        cboEncoding->setCurrentIndex(static_cast<int>(g.Encoding));
    }
    mmoRecv->SetEncoding(g.Encoding);
    mmoSend->SetEncoding(g.Encoding);
    pnlQuickSend->SetButtons(g.QuickSends);
    ShowHexHint();
    if (g.Window.Width <= 0)
        return;
    // The place the window had, kept on a screen that is there now.
    QRect place(g.Window.X, g.Window.Y, g.Window.Width, g.Window.Height);
    const QScreen *screen = QGuiApplication::screenAt(place.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect room = screen->availableGeometry();
        place.setSize(place.size().boundedTo(room.size()));
        if (!room.contains(place.center()))
            place.moveTopLeft(room.topLeft());
    }
    resize(place.size());
    move(place.topLeft());
}

void TfrmMain::KeepWindowPlace()
{
    TWindowPlace &w = FEngine.General().Window;
    w = {pos().x(), pos().y(), width(), height()};
}

void TfrmMain::cboEncodingChange()
{
    const int index = cboEncoding->currentIndex();
    TGeneralSettings &g = FEngine.General();
    if (index < 0 || index >= static_cast<int>(EncodingNames.size()) ||
        index == static_cast<int>(g.Encoding))
        return;
    g.Encoding = static_cast<TEncoding>(index);
    mmoRecv->SetEncoding(g.Encoding);
    mmoSend->SetEncoding(g.Encoding);
    // Already received data is shown anew, even while paused.
    ScheduleViewRedraw(true, true, true);
    FlushViewRedraw();
}

void TfrmMain::ShowHexHint()
{
    QLineEdit *edit = cboSend->lineEdit();
    if (!edit)
        return;
    const std::string ignored = cboDataMode->currentIndex() == dmHex
                                    ? IgnoredInHex(edit->text().toUtf8().toStdString())
                                    : std::string();
    if (ignored.empty()) {
        edit->setPalette(QPalette());
        edit->setToolTip(QString());
        return;
    }
    // A tint of the palette's own base, so it reads in dark themes too.
    QPalette tinted = edit->palette();
    const QColor base = QPalette().color(QPalette::Base);
    const QColor warn(255, 170, 0);
    tinted.setColor(QPalette::Base,
                    QColor((base.red() * 2 + warn.red()) / 3, (base.green() * 2 + warn.green()) / 3,
                           (base.blue() * 2 + warn.blue()) / 3));
    edit->setPalette(tinted);
    QString names;
    for (const uint code : QString::fromUtf8(ignored).toUcs4()) {
        if (!names.isEmpty())
            names += QLatin1Char(' ');
        names += QString::fromUcs4(reinterpret_cast<const char32_t *>(&code), 1);
    }
    edit->setToolTip(QStringLiteral("Hex mode sends hex digits only and passes over: ") + names);
}

void TfrmMain::SendQuick(int index)
{
    if (index >= 0)
        FEngine.SendQuick(static_cast<std::size_t>(index));
}

void TfrmMain::KeepHeightOnMethodSwitch(int before)
{
    // Showing the other method's panel may raise the window's least height,
    // and Qt grows the window for it once the layout settles; it never
    // shrinks it again by itself.
    QTimer::singleShot(0, this, [this, before] {
        if (height() > before) {
            if (FHeightBeforeGrow == 0)
                FHeightBeforeGrow = before;
            return;
        }
        if (FHeightBeforeGrow > 0 && minimumSizeHint().height() <= FHeightBeforeGrow) {
            resize(width(), FHeightBeforeGrow);
            FHeightBeforeGrow = 0;
        }
    });
}

} // namespace kestrune
