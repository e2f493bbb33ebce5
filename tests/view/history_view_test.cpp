#include "app/view/HistoryView.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QImage>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kestrune {
namespace {

// Hex-style text of n bytes: pairs separated by blanks, no line breaks.
std::string HexText(std::size_t bytes)
{
    std::string text;
    for (std::size_t i = 0; i < bytes; ++i) {
        if (i)
            text += ' ';
        text += "0123456789ABCDEF"[(i >> 4) & 15];
        text += "0123456789ABCDEF"[i & 15];
    }
    return text;
}

class HistoryViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        View = std::make_unique<THistoryView>();
        View->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        View->resize(420, 220);
        View->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(View.get()));
    }

    QPoint CellPoint(std::size_t offset) const
    {
        // The left quarter of a cell places the caret before that character.
        const QRectF cell = View->OffsetRect(offset);
        return QPoint(qFloor(cell.left() + cell.width() / 4), qFloor(cell.center().y()));
    }

    QWidget *Port() const { return View->viewport(); }

    std::unique_ptr<THistoryView> View;
};

TEST_F(HistoryViewTest, LongLineWrapsAtTheViewWidth)
{
    const std::string text = HexText(1000);
    View->SetText(text);
    const std::size_t columns = View->Columns();
    ASSERT_GT(columns, 10u);
    EXPECT_EQ(View->RowCount(), (text.size() + columns - 1) / columns);
    // The last whole column still fits inside the viewport.
    EXPECT_LE(View->OffsetRect(columns - 1).right(), Port()->width());
    EXPECT_EQ(View->OffsetRect(columns).top(), View->OffsetRect(0).bottom());
}

TEST_F(HistoryViewTest, ScrollToEndShowsTheLastRow)
{
    View->SetText(HexText(5000));
    View->ScrollToEnd();
    QScrollBar *bar = View->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(View->FirstVisibleRow() + View->VisibleRows(), View->RowCount());

    // A text that fits leaves nothing to scroll.
    View->SetText("short");
    View->ScrollToEnd();
    EXPECT_EQ(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(HistoryViewTest, ResizingRewrapsAndKeepsThePlace)
{
    View->SetText(HexText(5000));
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
    const std::size_t topOffset = View->OffsetAt(QPoint(0, 0));
    View->resize(View->width() * 2, View->height());
    const std::size_t newTop = View->OffsetAt(QPoint(0, 0));
    EXPECT_LE(newTop, topOffset);
    EXPECT_LT(topOffset, newTop + View->Columns());
}

TEST_F(HistoryViewTest, LargerFontMeansFewerColumns)
{
    View->SetText(HexText(500));
    const std::size_t before = View->Columns();
    QFont big = View->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    View->setFont(big);
    EXPECT_LT(View->Columns(), before);
    EXPECT_EQ(View->RowCount(), (View->Text().size() + View->Columns() - 1) / View->Columns());
}

TEST_F(HistoryViewTest, DragSelectsAcrossWrappedRowsAndCopies)
{
    const std::string text = HexText(400);
    View->SetText(text);
    const std::size_t columns = View->Columns();
    const std::size_t from = 5, to = 2 * columns + 7; // spans three rows
    QTest::mousePress(Port(), Qt::LeftButton, {}, CellPoint(from));
    QTest::mouseMove(Port(), CellPoint(columns + 1));
    QTest::mouseMove(Port(), CellPoint(to));
    QTest::mouseRelease(Port(), Qt::LeftButton, {}, CellPoint(to));
    EXPECT_EQ(View->SelectedText().toStdString(), text.substr(from, to - from));

    // Shift+click moves the free end and keeps the anchor.
    QTest::mouseClick(Port(), Qt::LeftButton, Qt::ShiftModifier, CellPoint(2));
    EXPECT_EQ(View->SelectedText().toStdString(), text.substr(2, from - 2));

    QApplication::clipboard()->clear();
    QTest::keyClick(View.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), text.substr(2, from - 2));
}

TEST_F(HistoryViewTest, DoubleClickSelectsAWord)
{
    View->SetText("41 0D 0A\r\nA{7B}");
    QTest::mouseDClick(Port(), Qt::LeftButton, {}, CellPoint(4));
    EXPECT_EQ(View->SelectedText(), "0D");
    QTest::mouseDClick(Port(), Qt::LeftButton, {}, CellPoint(13));
    EXPECT_EQ(View->SelectedText(), "7B");
}

TEST_F(HistoryViewTest, KeyboardSelectsAndCopiesLineBreaksAsTheyAre)
{
    const std::string text = "first line\r\nsecond\rthird\n";
    View->SetText(text);
    QTest::keyClick(View.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(View->SelectedText().toStdString(), text);
    QTest::keyClick(View.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), text);

    // Ctrl+Home, then Shift+Down and Shift+End: the first line and its CR LF.
    QTest::keyClick(View.get(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_FALSE(View->HasSelection());
    QTest::keyClick(View.get(), Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(View.get(), Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(View->SelectedText().toStdString(), "first line\r\n");
    // Shift+Left steps back over CR LF as one break.
    QTest::keyClick(View.get(), Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(View->SelectedText().toStdString(), "first line");
}

TEST_F(HistoryViewTest, PageAndEndKeysScroll)
{
    View->SetText(HexText(5000));
    QScrollBar *bar = View->verticalScrollBar();
    QTest::keyClick(View.get(), Qt::Key_PageDown);
    EXPECT_EQ(bar->value(), bar->pageStep());
    QTest::keyClick(View.get(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(View->CursorOffset(), View->Text().size());
    QTest::keyClick(View.get(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(HistoryViewTest, WheelScrollsDown)
{
    View->SetText(HexText(5000));
    const QPointF at(10, 10);
    QWheelEvent wheel(at, Port()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Port(), &wheel);
    EXPECT_GT(View->verticalScrollBar()->value(), 0);
}

TEST_F(HistoryViewTest, SelectionSurvivesGrowingAndShrinkingText)
{
    View->SetText("0123456789");
    View->SetSelection(2, 6);
    View->SetText("0123456789ABCDEF");
    EXPECT_EQ(View->SelectedText(), "2345");
    View->SetText("0123");
    EXPECT_EQ(View->SelectedText(), "23");
    View->Clear();
    EXPECT_FALSE(View->HasSelection());
    EXPECT_TRUE(View->SelectedText().isEmpty());
}

TEST_F(HistoryViewTest, ContextMenuOffersCopyAndSelectAll)
{
    View->SetText("abc def");
    std::unique_ptr<QMenu> menu(View->CreateContextMenu());
    const QList<QAction *> actions = menu->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0]->text(), "&Copy");
    EXPECT_FALSE(actions[0]->isEnabled()) << "nothing selected yet";
    actions[1]->trigger();
    EXPECT_EQ(View->SelectedText(), "abc def");

    menu.reset(View->CreateContextMenu());
    ASSERT_TRUE(menu->actions()[0]->isEnabled());
    QApplication::clipboard()->clear();
    menu->actions()[0]->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "abc def");
}

TEST_F(HistoryViewTest, PaintsWhiteBackgroundAndHighlightedSelection)
{
    View->SetText("AB CD EF");
    View->SetSelection(2, 3); // the blank between AB and CD
    QImage image(Port()->size(), QImage::Format_RGB32);
    Port()->render(&image);
    const QPoint selected = View->OffsetRect(2).center().toPoint();
    const QPoint unselected = View->OffsetRect(5).center().toPoint(); // the next blank
    EXPECT_EQ(image.pixelColor(selected), View->palette().color(QPalette::Highlight));
    EXPECT_EQ(image.pixelColor(unselected), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(Port()->width() - 2, Port()->height() - 2), QColor(Qt::white));
}

} // namespace
} // namespace kestrune
