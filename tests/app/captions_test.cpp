// Every caption of the main window and of the two small windows is shown whole:
// each text fits the part of its widget that the style leaves for text, in the
// desktop font, at scale 1 and 2.
#include "MainWindowFixture.h"

#include "app/COMExpertFrm.h"
#include "app/PinHelpFrm.h"
#include "app/WidgetKit.h"
#include "exchange/StatusTexts.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QTest>

using namespace kestrune;

namespace {

// The text as drawn: "&OK" shows as "OK", "&&" as "&".
QString Shown(QString text)
{
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

struct TRoom
{
    QString Text;
    QSize Need;
    QSize Have;
};

QString Describe(const QWidget *w, const TRoom &room)
{
    const QString name = w->objectName().isEmpty()
                             ? QString::fromLatin1(w->metaObject()->className())
                             : w->objectName();
    return QStringLiteral("%1 \"%2\" needs %3x%4, has %5x%6")
        .arg(name, room.Text)
        .arg(room.Need.width())
        .arg(room.Need.height())
        .arg(room.Have.width())
        .arg(room.Have.height());
}

QSize TextSize(const QWidget *w, const QString &text)
{
    const QFontMetrics fm = w->fontMetrics();
    return {fm.horizontalAdvance(Shown(text)), fm.height()};
}

// The room each caption of `w` gets, in the rectangle the style draws it into.
QList<TRoom> Rooms(QWidget *w)
{
    QList<TRoom> rooms;
    // Status panes cut a long text on purpose, whole in the tool tip, rather
    // than widen the window; the window tests hold them to that.
    if (dynamic_cast<kestrune::TStatusPane *>(w))
        return rooms;
    QStyle *style = w->style();
    auto buttonRoom = [&](QAbstractButton *b, QStyle::SubElement contents) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = b->text();
        if (auto *push = qobject_cast<QPushButton *>(b); push && push->autoDefault())
            opt.features |= QStyleOptionButton::AutoDefaultButton;
        rooms.append(
            {b->text(), TextSize(b, b->text()), style->subElementRect(contents, &opt, b).size()});
    };

    if (auto *label = qobject_cast<QLabel *>(w); label && !label->text().isEmpty()) {
        // A framed label indents its text by half an "x" unless told otherwise.
        int indent = label->indent();
        if (indent < 0)
            indent = label->frameWidth() > 0 ? label->fontMetrics().horizontalAdvance('x') / 2 : 0;
        TRoom room{label->text(), TextSize(label, label->text()), label->contentsRect().size()};
        room.Need.rwidth() += indent;
        rooms.append(room);
    } else if (auto *push = qobject_cast<QPushButton *>(w)) {
        buttonRoom(push, QStyle::SE_PushButtonContents);
    } else if (auto *check = qobject_cast<QCheckBox *>(w)) {
        buttonRoom(check, QStyle::SE_CheckBoxContents);
    } else if (auto *radio = qobject_cast<QRadioButton *>(w)) {
        buttonRoom(radio, QStyle::SE_RadioButtonContents);
    } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
        QStyleOptionComboBox opt;
        opt.initFrom(combo);
        opt.editable = combo->isEditable();
        opt.frame = combo->hasFrame();
        QSize have =
            style->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo)
                .size();
        // An edit field keeps a small margin of its own on each side.
        if (combo->isEditable())
            have.rwidth() -= 4;
        for (int i = 0; i < combo->count(); ++i)
            rooms.append({combo->itemText(i), TextSize(combo, combo->itemText(i)), have});
    } else if (auto *tabs = qobject_cast<QTabBar *>(w)) {
        const int padding = style->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, tabs);
        for (int i = 0; i < tabs->count(); ++i) {
            TRoom room{tabs->tabText(i), TextSize(tabs, tabs->tabText(i)), tabs->tabRect(i).size()};
            room.Need.rwidth() += padding;
            rooms.append(room);
        }
    }
    return rooms;
}

struct TWalk
{
    int Checked = 0;
    QStringList Clipped;
};

// Looks at every visible caption inside `window`; lists those cut off.
TWalk Walk(QWidget *window)
{
    TWalk walk;
    QList<QWidget *> widgets = window->findChildren<QWidget *>();
    widgets.prepend(window);
    for (QWidget *w : widgets) {
        if (!w->isVisible())
            continue;
        for (const TRoom &room : Rooms(w)) {
            ++walk.Checked;
            if (room.Need.width() > room.Have.width() || room.Need.height() > room.Have.height())
                walk.Clipped.append(Describe(w, room));
        }
    }
    return walk;
}

// Every caption of `window` fits; there are at least `least` of them.
void ExpectAllFit(QWidget *window, int least, const char *state)
{
    const TWalk walk = Walk(window);
    EXPECT_GE(walk.Checked, least) << state;
    EXPECT_TRUE(walk.Clipped.isEmpty()) << state << ":\n"
                                        << walk.Clipped.join(QLatin1Char('\n')).toStdString();
}

// Shows the window and lets every pending relayout run: a changed text
// relayouts its parent first and the window after that.
void Settle(QWidget &w)
{
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

class CaptionsTest : public MainWindowTest
{
};

} // namespace

// Runs at whatever scale the environment sets; the test below repeats it at
// scale 1 and 2 in programs of its own.
TEST_F(CaptionsTest, EveryCaptionFitsItsWidget)
{
    TfrmMain &frm = open();
    Settle(frm);
    ExpectAllFit(&frm, 80, "serial panel");

    find<QRadioButton>("rbTCPClient")->setChecked(true);
    find<QTabBar>("tabSetting")->setCurrentIndex(1);
    // The longest texts the status panes show: a command list waiting for a
    // reply, a listening server, counts beyond a terabyte.
    find<QLabel>("stpMain")->setText(QString::fromStdString(CmdListReplyText(INT32_MAX)));
    find<QLabel>("stpStatus")->setText(QStringLiteral("Listening"));
    find<QLabel>("stpRecv")->setText(QString::fromStdString(RecvPaneCaption(9'999'999'999'999)));
    find<QLabel>("stpSend")->setText(
        QString::fromStdString(SendPaneCaption(9'999'999'999'60, 999'999'999'999)));
    Settle(frm);
    ExpectAllFit(&frm, 80, "network panel, Transfer tab, long status texts");

    TfrmCOMExpert expert(&frm);
    Settle(expert);
    ExpectAllFit(&expert, 7, "time-outs dialog");

    TfrmPinHelp pinHelp(&frm);
    Settle(pinHelp);
    // A picture only: nothing to cut off today, but a caption added later is checked.
    ExpectAllFit(&pinHelp, 0, "pin help");
}

class CaptionsAtScale : public ::testing::TestWithParam<double>
{
};

// Qt's own scaling multiplies fonts and pixel sizes alike, which no layout can
// get wrong; the hard case is a font scaled on its own while every designed
// pixel size stays, as a desktop's text scaling does. Each scale runs in a
// program of its own, since the font resolution is fixed at start.
TEST_P(CaptionsAtScale, EveryCaptionFitsItsWidget)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_ENABLE_HIGHDPI_SCALING", "0");
    env.insert("QT_FONT_DPI", QString::number(qRound(96 * GetParam())));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=CaptionsTest.EveryCaptionFitsItsWidget", "--gtest_brief=1"});
    ASSERT_TRUE(child.waitForFinished(60000)) << "the check did not end";
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("1 test")) << "the check ran: " << output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Scales, CaptionsAtScale, ::testing::Values(1.0, 1.5, 2.0));
