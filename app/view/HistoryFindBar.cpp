#include "app/view/HistoryFindBar.h"

#include "app/view/HistoryView.h"
#include "encoding/TypedText.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <climits>

namespace kestrune {

THistoryFindBar::THistoryFindBar(THistoryView &view) : QObject(&view), FView(view) {}

void THistoryFindBar::Show()
{
    if (!FBar) {
        FBar = new QWidget(&FView);
        FBar->setObjectName(QStringLiteral("pnlFind"));
        FBar->setAutoFillBackground(true);
        auto *layout = new QHBoxLayout(FBar);
        layout->setContentsMargins(2, 2, 2, 2);
        FEdit = new QLineEdit(FBar);
        FEdit->setObjectName(QStringLiteral("edtFind"));
        FEdit->setPlaceholderText(tr("Find"));
        FHex = new QCheckBox(tr("Hex"), FBar);
        FHex->setObjectName(QStringLiteral("chkFindHex"));
        FHex->setToolTip(tr("Search for hex bytes, as \"0D 0A\""));
        FCount = new QLabel(FBar);
        FCount->setObjectName(QStringLiteral("lblFindCount"));
        const auto button = [&](const QString &name, const QString &text, auto slot) {
            auto *b = new QToolButton(FBar);
            b->setObjectName(name);
            b->setText(text);
            b->setFocusPolicy(Qt::NoFocus);
            connect(b, &QToolButton::clicked, this, slot);
            return b;
        };
        layout->addWidget(FEdit, 1);
        layout->addWidget(FHex);
        layout->addWidget(FCount);
        layout->addWidget(
            button(QStringLiteral("btnFindPrev"), tr("Previous"), &THistoryFindBar::FindPrevious));
        layout->addWidget(
            button(QStringLiteral("btnFindNext"), tr("Next"), &THistoryFindBar::FindNext));
        layout->addWidget(
            button(QStringLiteral("btnFindClose"), tr("Close"), &THistoryFindBar::Close));
        const auto restart = [this] { Find(FEdit->text(), FHex->isChecked()); };
        connect(FEdit, &QLineEdit::textChanged, this, restart);
        connect(FHex, &QCheckBox::toggled, this, restart);
        connect(FEdit, &QLineEdit::returnPressed, this, [this] {
            if (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier)
                FindPrevious();
            else
                FindNext();
        });
        // Keys of the view work from the bar too.
        FEdit->installEventFilter(this);
    }
    FBar->show();
    emit shownChanged(true);
    FEdit->setFocus();
    FEdit->selectAll();
}

void THistoryFindBar::Close()
{
    FBar->hide();
    FSearch.Stop();
    emit shownChanged(false);
    UpdateCount();
}

int THistoryFindBar::ShownHeight() const
{
    return FBar && !FBar->isHidden() ? FBar->sizeHint().height() : 0;
}

bool THistoryFindBar::eventFilter(QObject *watched, QEvent *event)
{
    // F3 in the find box steps through matches, before any window shortcut.
    if (watched == FEdit && event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_F3) {
        event->accept();
        return true;
    }
    if (watched == FEdit && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            Close();
            return true;
        }
        if (key->key() == Qt::Key_F3) {
            if (key->modifiers() & Qt::ShiftModifier)
                FindPrevious();
            else
                FindNext();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void THistoryFindBar::Find(const QString &query, bool hex)
{
    const TTextCells &cells = FView.Layout().Cells();
    const QByteArray text = query.toUtf8();
    // The query is typed text: it becomes bytes as typed data does.
    ByteString pattern = ParseTyped(std::string_view(text.constData(), text.size()),
                                    hex ? dmHex : cells.Mode(), cells.EscChar(), cells.Encoding());
    FSearch.Stop();
    if (!pattern.empty())
        FSearch.Start(FView.Layout().Bytes(), std::move(pattern));
    Step();
    UpdateCount();
    emit matchesChanged();
}

void THistoryFindBar::Follow(const THistoryBytes &bytes)
{
    if (!FSearch.Active())
        return;
    FSearch.Follow(bytes);
    Step();
}

void THistoryFindBar::Step()
{
    if (!FSearch.Active() || FArmed)
        return;
    // One slice now and the rest on later turns of the event loop, so a
    // search over a large history never holds the window up.
    const std::size_t before = FSearch.Matches().size();
    const bool done = FSearch.Step();
    if (FSearch.Matches().size() != before)
        emit matchesChanged();
    UpdateCount();
    if (done)
        return;
    FArmed = true;
    QTimer::singleShot(0, this, [this] {
        FArmed = false;
        Step();
    });
}

void THistoryFindBar::UpdateCount()
{
    if (!FCount)
        return;
    if (!FSearch.Active()) {
        FCount->clear();
        return;
    }
    const auto count = static_cast<qulonglong>(FSearch.Matches().size());
    if (FSearch.Capped())
        FCount->setText(tr("more than %1 matches").arg(count));
    else if (FSearch.Done())
        FCount->setText(count == 1 ? tr("1 match") : tr("%1 matches").arg(count));
    else
        FCount->setText(tr("%1 matches so far...").arg(count));
}

TTextPos THistoryFindBar::MatchEnd(std::uint64_t byte) const
{
    const std::uint64_t last = byte + std::max<std::size_t>(FSearch.PatternSize(), 1) - 1;
    return FView.Layout().Cells().Mode() == dmHex ? PosOfByte(last) + 2 : PosOfByte(last + 1);
}

void THistoryFindBar::GoToMatch(std::uint64_t byte)
{
    if (byte == UINT64_MAX)
        return;
    FView.SetSelection(PosOfByte(byte), MatchEnd(byte));
    FView.EnsureCursorVisible();
    // Keep the match's first byte in view too when it spans rows.
    const std::size_t startRow = FView.EnsureLaidOut(PosOfByte(byte)).RowOf(PosOfByte(byte));
    if (startRow < FView.FirstVisibleRow())
        FView.verticalScrollBar()->setValue(
            static_cast<int>(std::min<std::size_t>(startRow, INT_MAX)));
}

void THistoryFindBar::FindNext()
{
    const std::uint64_t from =
        ByteOfPos(FView.HasSelection() ? FView.SelectionStart() : FView.CursorPos());
    GoToMatch(FSearch.NextAfter(from, !FView.HasSelection()));
}

void THistoryFindBar::FindPrevious()
{
    const std::uint64_t before =
        ByteOfPos(FView.HasSelection() ? FView.SelectionStart() : FView.CursorPos());
    GoToMatch(FSearch.PrevBefore(before));
}

} // namespace kestrune
