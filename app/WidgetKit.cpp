#include "app/WidgetKit.h"

#include <QFocusEvent>
#include <QFontDatabase>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QToolTip>
#include <algorithm>

namespace kestrune {

QFont fixedFont(int points)
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPointSize(points);
    return f;
}

QSize TStatusPane::sizeHint() const
{
    QSize size = QLabel::sizeHint();
    size.setWidth(std::max(size.width(), FDesignWidth));
    return size;
}

QSize TStatusPane::minimumSizeHint() const
{
    QSize size = sizeHint();
    const int frame = 2 * frameWidth() + 2 * margin();
    size.setWidth(FDesignWidth > 0 ? FDesignWidth : 4 * fontMetrics().averageCharWidth() + frame);
    return size;
}

QString TStatusPane::ShownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width() - 2 * margin());
}

void TStatusPane::paintEvent(QPaintEvent *event)
{
    const QString shown = ShownText();
    if (shown == text()) {
        QLabel::paintEvent(event);
        return;
    }
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawText(contentsRect().adjusted(margin(), margin(), -margin(), -margin()),
                     static_cast<int>(alignment()), shown);
}

bool TStatusPane::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty() && ShownText() != text()) {
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), text(), this);
        return true;
    }
    return QLabel::event(event);
}

QLabel *paneLabel(const char *name, int width)
{
    auto *label = named(new TStatusPane(width), name);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    return label;
}

QSize TChoiceBox::sizeHint() const
{
    QSize size = QComboBox::sizeHint();
    int longest = 0;
    for (int i = 0; i < count(); ++i)
        longest = std::max(longest, fontMetrics().horizontalAdvance(itemText(i)));
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    opt.rect = QRect(QPoint(), size);
    const int field =
        style()
            ->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this)
            .width();
    // An edit field keeps 2 pixels of its own beside the text.
    const int margins = isEditable() ? 4 : 0;
    size.rwidth() += std::max(0, longest + margins - field);
    return size;
}

QComboBox *dropDown(const char *name)
{
    auto *box = named(new TChoiceBox, name);
    box->setEditable(false);
    return box;
}

namespace {

class TEventHook : public QObject
{
public:
    TEventHook(QObject *parent, std::function<bool(QEvent *)> handler)
        : QObject(parent), FHandler(std::move(handler))
    {
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override { return FHandler(event); }

private:
    std::function<bool(QEvent *)> FHandler;
};

} // namespace

void HookEvents(QObject *target, std::function<bool(QEvent *)> handler)
{
    target->installEventFilter(new TEventHook(target, std::move(handler)));
}

void OnFocusLeave(QObject *target, std::function<void()> action)
{
    HookEvents(target, [action = std::move(action)](QEvent *event) {
        if (event->type() == QEvent::FocusOut) {
            // Switching windows or opening a menu keeps the focus inside the edit.
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                action();
        }
        return false;
    });
}

} // namespace kestrune
