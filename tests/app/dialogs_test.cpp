#include "app/COMExpertFrm.h"
#include "app/PinHelpFrm.h"
#include "common/IntText.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace kestrune;

namespace {

// Runs `dlg.exec()` while `during` acts on it from the event loop. A guard
// ends a dialog left open, so a fault fails the test instead of hanging it.
int ExecWhile(QDialog &dlg, const std::function<void()> &during)
{
    constexpr int GuardResult = 77;
    QTimer::singleShot(0, &dlg, during);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &dlg, [&dlg] { dlg.done(GuardResult); });
    guard.start(5000);
    return dlg.exec();
}

QImage Shown(const TfrmPinHelp &frm)
{
    return frm.imgPinHelp->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
}

int InkedPixels(const QImage &image, int top, int bottom)
{
    int count = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 160)
                ++count;
    return count;
}

} // namespace

TEST(COMExpertDialog, WidgetsSitWhereTheFormPutsThem)
{
    TfrmCOMExpert dlg;
    EXPECT_EQ(dlg.windowTitle(), "Advanced");
    EXPECT_EQ(dlg.font().pointSize(), 8);
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize()) << "fixed size";
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(dlg.windowFlags() & Qt::WindowCloseButtonHint);

    struct TRow
    {
        QLineEdit *Edit;
        const char *Name;
        const char *Label;
    };
    const TRow rows[] = {
        {dlg.edtReadIntervalTimeout, "edtReadIntervalTimeout", "Read Interval Timeout(ms):"},
        {dlg.edtReadTimeoutMultiplier, "edtReadTimeoutMultiplier", "Read Timeout Multiplier(ms):"},
        {dlg.edtReadTimeoutConstant, "edtReadTimeoutConstant", "Read Timeout Constant(ms):"},
        {dlg.edtWriteTimeoutMultiplier, "edtWriteTimeoutMultiplier",
         "Write Timeout Multiplier(ms):"},
        {dlg.edtWriteTimeoutConstant, "edtWriteTimeoutConstant", "Write Timeout Constant(ms):"},
    };
    const QList<QLabel *> labels = dlg.findChildren<QLabel *>();
    for (int i = 0; i < 5; ++i) {
        const TRow &row = rows[i];
        ASSERT_EQ(dlg.findChild<QLineEdit *>(row.Name), row.Edit) << row.Name;
        EXPECT_EQ(row.Edit->geometry(), QRect(184, 16 + 24 * i, 73, 21)) << row.Name;
        EXPECT_TRUE(row.Edit->text().isEmpty());
        EXPECT_EQ(row.Edit->validator(), nullptr) << "the edits take any text";

        const auto label =
            std::ranges::find_if(labels, [&](QLabel *l) { return l->buddy() == row.Edit; });
        ASSERT_NE(label, labels.end()) << row.Name;
        EXPECT_EQ((*label)->text(), row.Label);
        EXPECT_EQ((*label)->x(), 8);
        EXPECT_EQ((*label)->width(), 169);
        EXPECT_EQ((*label)->geometry().center().y(), row.Edit->geometry().center().y());
        EXPECT_TRUE((*label)->alignment() & Qt::AlignRight);
    }

    ASSERT_EQ(dlg.findChild<QPushButton *>("btnOK"), dlg.btnOK);
    ASSERT_EQ(dlg.findChild<QPushButton *>("btnCancel"), dlg.btnCancel);
    EXPECT_EQ(dlg.btnOK->text(), "&OK");
    EXPECT_EQ(dlg.btnCancel->text(), "&Cancel");
    EXPECT_EQ(dlg.btnOK->geometry(), QRect(96, 144, 75, 25));
    EXPECT_EQ(dlg.btnCancel->geometry(), QRect(184, 144, 75, 25));
    for (QWidget *child : dlg.findChildren<QWidget *>())
        EXPECT_TRUE(dlg.rect().contains(child->geometry())) << child->objectName().toStdString();
}

TEST(COMExpertDialog, OpensCentredOverItsOwner)
{
    QWidget owner;
    owner.setGeometry(120, 90, 640, 480);
    owner.show();
    TfrmCOMExpert dlg(&owner);
    dlg.show();
    const QPoint offset = dlg.frameGeometry().center() - owner.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 4) << offset.x() << "," << offset.y();
}

TEST(COMExpertDialog, TabVisitsTheEditsThenOkThenCancelThenThePortGroup)
{
    TfrmCOMExpert dlg;
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg, 5000));
    EXPECT_EQ(QApplication::focusWidget(), dlg.edtReadIntervalTimeout) << "first edit has focus";

    const QWidget *expected[] = {dlg.edtReadTimeoutMultiplier,
                                 dlg.edtReadTimeoutConstant,
                                 dlg.edtWriteTimeoutMultiplier,
                                 dlg.edtWriteTimeoutConstant,
                                 dlg.btnOK,
                                 dlg.btnCancel,
                                 static_cast<QWidget *>(dlg.cboFlowControl),
                                 static_cast<QWidget *>(dlg.chkReopenOnReturn),
                                 dlg.edtReadIntervalTimeout};
    dlg.edtReadIntervalTimeout->setFocus();
    for (const QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), next)
            << "expected " << next->objectName().toStdString();
    }
    for (auto it = std::rbegin(expected) + 1; it != std::rend(expected); ++it) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        ASSERT_EQ(QApplication::focusWidget(), *it);
    }
}

TEST(COMExpertDialog, ButtonsAndCloseBoxGiveTheirResultAndKeepTheTexts)
{
    struct TCase
    {
        const char *Why;
        std::function<void(TfrmCOMExpert &)> Action;
        int Expected;
    };
    const TCase cases[] = {
        {"OK", [](TfrmCOMExpert &d) { QTest::mouseClick(d.btnOK, Qt::LeftButton); },
         QDialog::Accepted},
        {"Cancel", [](TfrmCOMExpert &d) { QTest::mouseClick(d.btnCancel, Qt::LeftButton); },
         QDialog::Rejected},
        {"close box", [](TfrmCOMExpert &d) { d.close(); }, QDialog::Rejected},
        {"space on the focused OK",
         [](TfrmCOMExpert &d) {
             d.btnOK->setFocus();
             QTest::keyClick(d.btnOK, Qt::Key_Space);
         },
         QDialog::Accepted},
    };
    const QString texts[] = {"4294967295", "-1", "abc", " 12 ", ""};
    for (const TCase &c : cases) {
        TfrmCOMExpert dlg;
        QLineEdit *edits[] = {dlg.edtReadIntervalTimeout, dlg.edtReadTimeoutMultiplier,
                              dlg.edtReadTimeoutConstant, dlg.edtWriteTimeoutMultiplier,
                              dlg.edtWriteTimeoutConstant};
        for (int i = 0; i < 5; ++i)
            edits[i]->setText(texts[i]);
        EXPECT_EQ(ExecWhile(dlg, [&] { c.Action(dlg); }), c.Expected) << c.Why;
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(edits[i]->text(), texts[i]) << c.Why;
    }
}

TEST(COMExpertDialog, EnterAndEscapeDoNotCloseIt)
{
    const Qt::Key keys[] = {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape};

    // Shown without a loop: no key on any widget finishes the dialog.
    TfrmCOMExpert dlg;
    dlg.show();
    QSignalSpy finished(&dlg, &QDialog::finished);
    QWidget *targets[] = {dlg.edtReadIntervalTimeout, dlg.edtWriteTimeoutConstant, dlg.btnOK,
                          dlg.btnCancel, &dlg};
    for (QWidget *target : targets)
        for (Qt::Key key : keys) {
            target->setFocus();
            QTest::keyClick(target, key);
            EXPECT_TRUE(dlg.isVisible()) << target->objectName().toStdString() << " key " << key;
        }
    EXPECT_EQ(finished.count(), 0);

    // Modal: the keys go by and the button pressed afterwards decides.
    for (const auto &[button, expected] :
         {std::pair{&TfrmCOMExpert::btnCancel, int(QDialog::Rejected)},
          std::pair{&TfrmCOMExpert::btnOK, int(QDialog::Accepted)}}) {
        TfrmCOMExpert modal;
        const int result = ExecWhile(modal, [&] {
            for (QWidget *target : {static_cast<QWidget *>(modal.edtReadTimeoutConstant),
                                    static_cast<QWidget *>(modal.btnOK)})
                for (Qt::Key key : keys) {
                    target->setFocus();
                    QTest::keyClick(target, key);
                }
            QTest::mouseClick(modal.*button, Qt::LeftButton);
        });
        EXPECT_EQ(result, expected);
    }
}

// What OK reads back from an edit: every value the dialog can show, in the
// usual integer notation, and nothing beyond 32 bits.
TEST(COMExpertDialog, TimeoutTextsReadBackAsUnsigned32BitValues)
{
    const std::uint32_t shown[] = {0u,          1u,          100u,        2147483647u,
                                   2147483648u, 3000000000u, 4294967294u, 4294967295u};
    for (const std::uint32_t value : shown)
        EXPECT_EQ(TfrmCOMExpert::TimeoutFromText(QString::number(value)), value)
            << "OK on the unchanged text " << value;

    const std::pair<const char *, std::uint32_t> accepted[] = {
        {"  +2147483648", 2147483648u},
        {"$FFFFFFFF", 4294967295u},
        {"x80000000", 2147483648u},
        {"0XfffffffE", 4294967294u},
        {"\t007", 7u},
        {"-1", 4294967295u},
        {"-2147483648", 2147483648u},
        {"0x7FFFFFFF", 2147483647u},
    };
    for (const auto &[text, value] : accepted)
        EXPECT_EQ(TfrmCOMExpert::TimeoutFromText(text), value) << text;

    const char *refused[] = {"4294967296", "99999999999999999999",
                             "$100000000", "-2147483649",
                             "-$FFFFFFFF", "",
                             "   ",        "+",
                             "$",          "12 ",
                             "1 2",        "abc",
                             "12x",        "--1"};
    for (const char *text : refused) {
        try {
            (void)TfrmCOMExpert::TimeoutFromText(text);
            ADD_FAILURE() << "'" << text << "' was taken";
        } catch (const EConvertError &e) {
            EXPECT_EQ(e.what(), "'" + std::string(text) + "' is not a valid integer value");
        }
    }
}

TEST(COMExpertDialog, ReadTimeoutsStopsAtTheFirstTextThatDoesNotConvert)
{
    TfrmCOMExpert dlg;
    const QString texts[] = {"4294967295", "2147483648", "many", "7", "8"};
    QLineEdit *edits[] = {dlg.edtReadIntervalTimeout, dlg.edtReadTimeoutMultiplier,
                          dlg.edtReadTimeoutConstant, dlg.edtWriteTimeoutMultiplier,
                          dlg.edtWriteTimeoutConstant};
    for (int i = 0; i < 5; ++i)
        edits[i]->setText(texts[i]);
    std::array<std::uint32_t, 5> values = {1, 2, 3, 4, 5};
    const std::array<std::uint32_t *, 5> targets = {&values[0], &values[1], &values[2], &values[3],
                                                    &values[4]};
    EXPECT_THROW(dlg.ReadTimeouts(targets), EConvertError);
    EXPECT_EQ(values, (std::array<std::uint32_t, 5>{4294967295u, 2147483648u, 3, 4, 5}));

    edits[2]->setText("3000000000");
    dlg.ReadTimeouts(targets);
    EXPECT_EQ(values, (std::array<std::uint32_t, 5>{4294967295u, 2147483648u, 3000000000u, 7, 8}));
}

TEST(PinHelpWindow, ShowsTheDrawnPictureUnscaledFromTheTopLeft)
{
    TfrmPinHelp frm;
    EXPECT_EQ(frm.windowTitle(), "Help Port Pin");
    EXPECT_FALSE(frm.isVisible()) << "created hidden";
    EXPECT_EQ(frm.minimumSize(), frm.maximumSize()) << "fixed size";
    EXPECT_FALSE(frm.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(frm.windowFlags() & Qt::WindowMaximizeButtonHint);
    ASSERT_EQ(frm.findChild<QLabel *>("imgPinHelp"), frm.imgPinHelp);
    EXPECT_EQ(frm.imgPinHelp->geometry(), QRect(0, 0, 345, 521));
    EXPECT_EQ(frm.size(), QSize(345, 521));
    EXPECT_FALSE(frm.imgPinHelp->hasScaledContents());
    EXPECT_TRUE(frm.imgPinHelp->alignment() & Qt::AlignLeft);
    EXPECT_TRUE(frm.imgPinHelp->alignment() & Qt::AlignTop);
    EXPECT_TRUE(frm.findChildren<QPushButton *>().isEmpty()) << "no controls";

    const QImage picture = Shown(frm);
    ASSERT_EQ(picture.size(), QSize(349, 522));
    EXPECT_EQ(picture, RenderPinHelpPicture().convertToFormat(QImage::Format_RGB32));
}

TEST(PinHelpWindow, PictureHasContentInEveryBandAndNoneWhereItIsClipped)
{
    const QImage picture = RenderPinHelpPicture().convertToFormat(QImage::Format_RGB32);
    struct TBand
    {
        const char *What;
        int Top;
        int Bottom;
    };
    const TBand bands[] = {{"heading", 0, 34},
                           {"male connector", 40, 120},
                           {"female connector", 128, 208},
                           {"pin table", 216, 418},
                           {"legend and notes", 420, 521}};
    for (const TBand &band : bands)
        EXPECT_GT(InkedPixels(picture, band.Top, band.Bottom), 200) << band.What;

    // The strip beyond the 345 x 521 area is cut off on screen, so it must be empty.
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 345; x < picture.width(); ++x)
            ASSERT_EQ(picture.pixel(x, y), qRgb(255, 255, 255)) << x << "," << y;
    for (int x = 0; x < picture.width(); ++x)
        ASSERT_EQ(picture.pixel(x, 521), qRgb(255, 255, 255)) << x;
}

TEST(PinHelpWindow, OpensModallyAgainAndAgainWithTheSamePicture)
{
    TfrmPinHelp reused;
    const QImage first = Shown(reused);
    for (int round = 0; round < 3; ++round) {
        bool wasModal = false;
        const int result = ExecWhile(reused, [&] {
            wasModal = reused.isVisible() && QApplication::activeModalWidget() == &reused;
            reused.close();
        });
        EXPECT_TRUE(wasModal) << round;
        EXPECT_EQ(result, QDialog::Rejected) << round;
        EXPECT_FALSE(reused.isVisible());
        EXPECT_EQ(Shown(reused), first) << round;
    }
    TfrmPinHelp another;
    EXPECT_EQ(ExecWhile(another, [&] { another.close(); }), QDialog::Rejected);
    EXPECT_EQ(Shown(another), first);
}

TEST(PinHelpWindow, DesignedPlaceIsKeptOnScreen)
{
    struct TCase
    {
        QRect Available;
        QPoint Expected;
    };
    const QSize frame(355, 556);
    const TCase cases[] = {
        {QRect(0, 0, 1920, 1080), QPoint(707, 391)},
        {QRect(0, 0, 1062, 947), QPoint(707, 391)}, // exactly fits
        {QRect(0, 0, 1024, 768), QPoint(669, 212)},
        {QRect(0, 0, 800, 600), QPoint(445, 44)},
        {QRect(0, 0, 300, 400), QPoint(0, 0)}, // smaller than the window
        {QRect(1920, 0, 1280, 1024), QPoint(1920, 391)},
        {QRect(0, 40, 1920, 1040), QPoint(707, 391)},
        {QRect(-1280, 0, 1280, 700), QPoint(-355, 144)},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(PlaceOnScreen(QPoint(707, 391), frame, c.Available), c.Expected)
            << c.Available.x() << "," << c.Available.y() << " " << c.Available.width() << "x"
            << c.Available.height();

    TfrmPinHelp frm;
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(available.contains(QRect(frm.pos(), frame)) || available.width() < frame.width() ||
                available.height() < frame.height());
}
