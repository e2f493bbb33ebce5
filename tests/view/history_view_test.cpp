#include "ViewTestSupport.h"
#include "app/view/HistorySave.h"
#include "app/view/HistoryView.h"
#include "codec/Format.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QMenu>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace kestrune {
namespace {

// n bytes counting up, so every Hex pair of a row can be told apart.
std::string Counting(std::size_t n)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>(i);
    return bytes;
}

class HistoryViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        View = testing::ShownView();
        View->SetReport([this](const QString &text, bool error) {
            Reports.push_back(text);
            Errors += error ? 1 : 0;
        });
    }

    // Appends and shows, as the window does for a block.
    void Show(const std::string &bytes, TDataMode mode = dmHex, std::int32_t limit = INT32_MAX)
    {
        History.Append(bytes, limit);
        View->ShowHistory(History, mode, '{');
    }

    QPoint CellPoint(TTextPos pos) const
    {
        // The left quarter of a cell places the caret before that character.
        const QRectF cell = View->PosRect(pos);
        return QPoint(qFloor(cell.left() + cell.width() / 4), qFloor(cell.center().y()));
    }

    QWidget *Port() const { return View->viewport(); }
    std::string Clipboard() const { return QApplication::clipboard()->text().toStdString(); }

    TBoundedHistory History;
    std::unique_ptr<THistoryView> View;
    QStringList Reports;
    int Errors = 0;
};

TEST_F(HistoryViewTest, HexRowsHoldWholePairsAtTheViewWidth)
{
    Show(Counting(1000));
    const std::size_t columns = View->Columns();
    const std::size_t pairs = (columns + 1) / 3;
    ASSERT_GT(columns, 10u);
    EXPECT_EQ(View->RowCount(), (1000 + pairs - 1) / pairs);
    // The last whole pair still fits inside the viewport.
    EXPECT_LE(View->PosRect(PosOfByte(pairs - 1) + 1).right(), Port()->width());
    EXPECT_EQ(View->PosRect(PosOfByte(pairs)).top(), View->PosRect(0).bottom());
}

TEST_F(HistoryViewTest, ScrollToEndShowsTheLastRow)
{
    Show(Counting(5000));
    View->ScrollToEnd();
    QScrollBar *bar = View->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(View->FirstVisibleRow() + View->VisibleRows(), View->RowCount());

    // Another representation of a long history is shown at its end at once,
    // stays there while the rows before it are laid out, and its top is there
    // when scrolled to.
    View->SetLazyLayoutBytes(512);
    View->ShowHistory(History, dmMixed, '{');
    View->ScrollToEnd();
    ASSERT_TRUE(View->Layout().Pending());
    EXPECT_EQ(View->Layout().Row(View->RowCount() - 1).End, View->Layout().TextEnd());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !View->Layout().Pending(); }, 5000));
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(View->FirstVisibleRow() + View->VisibleRows(), View->RowCount());
    bar->setValue(0);
    EXPECT_EQ(View->Layout().Row(0).Start, View->Layout().TextBegin());

    // A text that fits leaves nothing to scroll.
    History.Clear();
    Show("short", dmCharacter);
    View->ScrollToEnd();
    EXPECT_EQ(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(HistoryViewTest, ResizingRewrapsAndKeepsThePlace)
{
    Show(Counting(5000));
    View->ScrollToEnd();
    const std::size_t wideColumns = View->Columns();
    const std::size_t wideRows = View->RowCount();

    View->resize(View->width() / 2, View->height());
    EXPECT_LT(View->Columns(), wideColumns);
    EXPECT_GT(View->RowCount(), wideRows);
    EXPECT_EQ(View->verticalScrollBar()->value(), View->verticalScrollBar()->maximum())
        << "a view following the end keeps following it";

    // Away from the end, the text at the top stays at the top.
    View->verticalScrollBar()->setValue(40);
    const TTextPos top = View->PosAt(QPoint(0, 0));
    View->resize(View->width() * 2, View->height());
    const std::size_t row = View->Layout().RowOf(top);
    EXPECT_EQ(row, View->FirstVisibleRow());

    // A larger font means fewer columns.
    const std::size_t before = View->Columns();
    QFont big = View->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    View->setFont(big);
    EXPECT_LT(View->Columns(), before);
}

TEST_F(HistoryViewTest, DragSelectsAcrossWrappedRowsAndCopies)
{
    Show(Counting(400));
    const std::string text = View->Text();
    const std::size_t pairs = (View->Columns() + 1) / 3;
    const TTextPos from = PosOfByte(2), to = PosOfByte(2 * pairs + 3); // spans three rows
    QTest::mousePress(Port(), Qt::LeftButton, {}, CellPoint(from));
    QTest::mouseMove(Port(), CellPoint(PosOfByte(pairs + 1)));
    QTest::mouseMove(Port(), CellPoint(to));
    QTest::mouseRelease(Port(), Qt::LeftButton, {}, CellPoint(to));
    EXPECT_EQ(View->SelectedText().toStdString(), text.substr(6, (2 * pairs + 1) * 3));

    // Shift+click moves the free end and keeps the anchor.
    QTest::mouseClick(Port(), Qt::LeftButton, Qt::ShiftModifier, CellPoint(0));
    EXPECT_EQ(View->SelectedText().toStdString(), text.substr(0, 6));

    QApplication::clipboard()->clear();
    QTest::keyClick(View.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Clipboard(), text.substr(0, 6));
}

TEST_F(HistoryViewTest, DoubleClickSelectsAWord)
{
    Show("Ab{\r\nxy", dmMixed);
    ASSERT_EQ(View->Text(), "Ab{7B}{0D}{0A}xy");
    QTest::mouseDClick(Port(), Qt::LeftButton, {}, CellPoint(PosOfByte(0)));
    EXPECT_EQ(View->SelectedText(), "Ab");
    QTest::mouseDClick(Port(), Qt::LeftButton, {}, CellPoint(PosOfByte(3) + 1));
    EXPECT_EQ(View->SelectedText(), "0D");
}

TEST_F(HistoryViewTest, KeyboardSelectsAndCopiesLineBreaksAsTheyAre)
{
    const std::string text = "first line\r\nsecond\rthird\n";
    Show(text, dmCharacter);
    QTest::keyClick(View.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(View->SelectedText().toStdString(), text);
    QTest::keyClick(View.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Clipboard(), text);

    // Ctrl+Home, then Shift+Down and Shift+Home: the first line and its CR LF.
    QTest::keyClick(View.get(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_FALSE(View->HasSelection());
    QTest::keyClick(View.get(), Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(View.get(), Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(View->SelectedText().toStdString(), "first line\r\n");
    // Shift+Left steps back over CR LF as one break.
    QTest::keyClick(View.get(), Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(View->SelectedText().toStdString(), "first line");
}

TEST_F(HistoryViewTest, PageKeysEndKeysAndTheWheelScroll)
{
    Show(Counting(5000));
    QScrollBar *bar = View->verticalScrollBar();
    QTest::keyClick(View.get(), Qt::Key_PageDown);
    EXPECT_EQ(bar->value(), bar->pageStep());
    QTest::keyClick(View.get(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(View->CursorPos(), View->Layout().TextEnd());
    QTest::keyClick(View.get(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(bar->value(), 0);

    const QPointF at(10, 10);
    QWheelEvent wheel(at, Port()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Port(), &wheel);
    EXPECT_GT(bar->value(), 0);
}

// The selection names bytes: it stays on them while the history grows and is
// trimmed, and shrinks to what is left of them.
TEST_F(HistoryViewTest, SelectionStaysOnItsBytesWhileTheHistoryIsTrimmed)
{
    Show("0123456789", dmCharacter, 14);
    View->SetSelection(PosOfByte(2), PosOfByte(6));
    Show("ABCD", dmCharacter, 14);
    EXPECT_EQ(View->SelectedText(), "2345");
    Show("EFGH", dmCharacter, 14); // the history now starts at "4"
    EXPECT_EQ(View->Text(), "456789ABCDEFGH");
    EXPECT_EQ(View->SelectedText(), "45");
    Show("0123456789", dmCharacter, 14);
    EXPECT_FALSE(View->HasSelection());
    View->Clear();
    EXPECT_EQ(View->Text(), "");
    EXPECT_TRUE(View->SelectedText().isEmpty());
}

// Not shown again, the view keeps showing what it showed, and keeps the chunks
// that hold it alive, while the history runs far past them.
TEST_F(HistoryViewTest, PausedViewStaysAsItWasWhileTheHistoryIsTrimmed)
{
    const auto limit = static_cast<std::int32_t>(2 * HistoryChunkSize);
    Show(Counting(HistoryChunkSize + 100), dmHex, limit);
    View->ScrollToEnd();
    const std::string shown = View->Text();
    QImage before(Port()->size(), QImage::Format_RGB32);
    Port()->render(&before);
    for (int i = 0; i < 40; ++i)
        History.Append(std::string(10000, static_cast<char>('a' + i % 26)), limit);
    ASSERT_GT(History.Begin(), View->Layout().Bytes().End());
    EXPECT_EQ(View->Text(), shown);
    QImage after(Port()->size(), QImage::Format_RGB32);
    Port()->render(&after);
    EXPECT_EQ(before, after);
    EXPECT_LE(View->Layout().Bytes().ChunkCount(), 2u) << "no more than the bytes it shows";

    View->ShowHistory(History, dmHex, '{');
    EXPECT_EQ(View->Text(), FormatData(History.Bytes(), dmHex, '{'));
}

TEST_F(HistoryViewTest, ContextMenuOffersCopySelectAllAndSaveAs)
{
    Show("abc def", dmCharacter);
    std::unique_ptr<QMenu> menu(View->CreateContextMenu());
    QList<QAction *> actions = menu->actions();
    actions.removeIf([](QAction *a) { return a->isSeparator(); });
    ASSERT_EQ(actions.size(), 6);
    EXPECT_EQ(actions[0]->text(), "&Copy");
    EXPECT_EQ(actions[2]->text(), "Save &As...");
    EXPECT_EQ(actions[3]->text(), "Export &CSV...");
    EXPECT_EQ(actions[4]->text(), "&Find...");
    EXPECT_EQ(actions[5]->text(), "Show &frames");
    EXPECT_FALSE(actions[5]->isChecked()) << "off unless the owner says so";
    EXPECT_FALSE(actions[0]->isEnabled()) << "nothing selected yet";
    actions[1]->trigger();
    EXPECT_EQ(View->SelectedText(), "abc def");

    menu.reset(View->CreateContextMenu());
    ASSERT_TRUE(menu->actions()[0]->isEnabled());
    QApplication::clipboard()->clear();
    menu->actions()[0]->trigger();
    EXPECT_EQ(Clipboard(), "abc def");
}

TEST_F(HistoryViewTest, SelectionOverTheClipboardLimitIsRefusedWithAPointerToSaveAs)
{
    // 23 MB in Hex is 69 MB of text.
    Show(std::string(23'000'000, '\x42'));
    QApplication::clipboard()->setText("before");
    View->selectAll();
    View->copy();
    EXPECT_EQ(Clipboard(), "before");
    ASSERT_EQ(Reports.size(), 1);
    EXPECT_EQ(Errors, 0);
    EXPECT_TRUE(Reports[0].contains("Save As...")) << Reports[0].toStdString();
    EXPECT_TRUE(Reports[0].contains("64 MiB")) << Reports[0].toStdString();
}

// With frames the text copied holds a prefix and a line break per frame: the
// limit counts them, or a copy of many small frames would run far past it.
TEST_F(HistoryViewTest, FramePrefixesCountTowardsTheClipboardLimit)
{
    // 40 MB of data in 16-byte frames: 75 MB of text with the prefixes.
    constexpr std::size_t Bytes = 40'000'000;
    History.Append(std::string(Bytes, 'x'), INT32_MAX);
    TFrameIndex frames;
    for (std::uint64_t at = 0; at < Bytes; at += TFrameIndex::BytesPerMark)
        frames.Add({at, 0, 0});
    View->ShowHistory(History, dmCharacter, '{', &frames);
    QApplication::clipboard()->setText("before");
    View->SetSelection(PosOfByte(1), PosOfByte(Bytes - 1));
    View->copy();
    EXPECT_EQ(Clipboard(), "before");
    ASSERT_EQ(Reports.size(), 1);
    EXPECT_TRUE(Reports[0].contains("64 MiB")) << Reports[0].toStdString();
}

TEST_F(HistoryViewTest, SaveAsWritesTheViewsTextOrTheSelectionAndNamesAFailedFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Show(Counting(3 << 20), dmMixed); // several pieces of writing
    QString target = dir.filePath("all.txt");
    View->SetAskFileName([&] { return target; });
    View->saveAs();
    QFile all(target);
    ASSERT_TRUE(all.open(QIODevice::ReadOnly));
    EXPECT_TRUE(all.readAll().toStdString() == View->Text());

    View->SetSelection(PosOfByte(10) + 2, PosOfByte(300));
    target = dir.filePath("part.txt");
    View->saveAs();
    QFile part(target);
    ASSERT_TRUE(part.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLatin1(part.readAll()), View->SelectedText());
    EXPECT_TRUE(Reports.isEmpty());

    target = dir.path(); // a directory cannot be written as a file
    View->saveAs();
    ASSERT_EQ(Reports.size(), 1);
    EXPECT_EQ(Errors, 1);
    EXPECT_TRUE(Reports[0].contains(dir.path())) << Reports[0].toStdString();
    EXPECT_TRUE(Reports[0].contains("Is a directory")) << Reports[0].toStdString();

    target.clear(); // cancelled
    View->saveAs();
    EXPECT_EQ(Reports.size(), 1);
}

// File calls that fail as a row of the table says; the others do their work
// on /dev/null.
struct TSaveFault
{
    const char *Name;
    int OpenErrno, WriteErrno, CloseErrno;
    int Expected; // the errno reported
};
const TSaveFault *gFault = nullptr;

int FaultyOpen(const char *, int flags, mode_t mode)
{
    errno = gFault->OpenErrno;
    return gFault->OpenErrno ? -1 : ::open("/dev/null", flags & ~(O_CREAT | O_TRUNC), mode);
}

ssize_t FaultyWrite(int fd, const void *data, std::size_t size)
{
    errno = gFault->WriteErrno;
    return gFault->WriteErrno ? -1 : ::write(fd, data, size);
}

int FaultyClose(int fd)
{
    ::close(fd);
    errno = gFault->CloseErrno;
    return gFault->CloseErrno ? -1 : 0;
}

// Save As names the call that failed, the close included, where some file
// systems first say that written data could not be stored.
TEST_F(HistoryViewTest, SaveAsReportsTheErrorOfTheCallThatFailed)
{
    Show(Counting(1000), dmHex);
    const TFileCalls calls{FaultyOpen, FaultyWrite, FaultyClose};
    const TSaveFault faults[] = {
        {"open", ENOENT, 0, 0, ENOENT}, {"write", 0, ENOSPC, 0, ENOSPC},
        {"close", 0, 0, EIO, EIO},      {"write, then close", 0, ENOSPC, EBADF, ENOSPC},
        {"none", 0, 0, 0, 0},
    };
    for (const TSaveFault &fault : faults) {
        SCOPED_TRACE(fault.Name);
        gFault = &fault;
        const TShownText text(View->Layout(), false);
        EXPECT_EQ(SaveShownText(text, View->Layout().TextBegin(), View->Layout().TextEnd(), true,
                                "unused", calls),
                  fault.Expected);
    }
}

TEST_F(HistoryViewTest, ColoursComeFromThePalette)
{
    QPalette dark = View->palette();
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(220, 220, 220));
    dark.setColor(QPalette::Highlight, QColor(0, 90, 160));
    View->setPalette(dark);
    Show("AB CD EF", dmCharacter);
    View->SetSelection(PosOfByte(2), PosOfByte(3)); // the blank between AB and CD
    QImage image(Port()->size(), QImage::Format_RGB32);
    Port()->render(&image);
    EXPECT_EQ(image.pixelColor(View->PosRect(PosOfByte(2)).center().toPoint()),
              dark.color(QPalette::Highlight));
    EXPECT_EQ(image.pixelColor(View->PosRect(PosOfByte(5)).center().toPoint()),
              dark.color(QPalette::Base));
    EXPECT_EQ(image.pixelColor(Port()->width() - 2, Port()->height() - 2),
              dark.color(QPalette::Base));
    // Some pixel of the letters has the text colour's tone, none stays black.
    const QRectF letter = View->PosRect(PosOfByte(0));
    int light = 0;
    for (int y = qFloor(letter.top()); y < qFloor(letter.bottom()); ++y)
        for (int x = qFloor(letter.left()); x < qFloor(letter.right()); ++x)
            light += image.pixelColor(x, y).lightness() > 120 ? 1 : 0;
    EXPECT_GT(light, 0);
}

} // namespace
} // namespace kestrune
