#pragma once

#include "app/view/HistorySearch.h"
#include "app/view/TextCells.h"

#include <QObject>
#include <QString>

#include <cstdint>

class QCheckBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace kestrune {

class THistoryView;

// The find bar of a history view (pnlFind, made when first shown) and the
// search it runs: the query is text in the view's representation or hex
// bytes, every match is marked, and Next and Previous select one. The search
// runs a slice at a time between turns of the event loop and follows the
// history as the view shows more of it.
class THistoryFindBar : public QObject
{
    Q_OBJECT

public:
    explicit THistoryFindBar(THistoryView &view);

    void Show();
    void Find(const QString &query, bool hex);
    void FindNext();
    void FindPrevious();
    // Takes in what the view shows now.
    void Follow(const THistoryBytes &bytes);

    [[nodiscard]] const THistorySearch &Search() const { return FSearch; }
    [[nodiscard]] QWidget *Bar() const { return FBar; }
    // The bar's height while it is shown, else 0.
    [[nodiscard]] int ShownHeight() const;
    // The text of [start of the match, its end) for the match starting at byte.
    [[nodiscard]] TTextPos MatchEnd(std::uint64_t byte) const;

signals:
    // The bar was shown or hidden: the view makes room for it.
    void shownChanged(bool shown);
    // Matches were found or dropped.
    void matchesChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Close();
    void Step();
    void UpdateCount();
    void GoToMatch(std::uint64_t byte);

    THistoryView &FView;
    THistorySearch FSearch;
    bool FArmed = false; // a step is queued on the event loop
    QWidget *FBar = nullptr;
    QLineEdit *FEdit = nullptr;
    QCheckBox *FHex = nullptr;
    QLabel *FCount = nullptr;
};

} // namespace kestrune
