#pragma once

#include "engine/Settings.h"

#include <QWidget>

#include <functional>
#include <vector>

class QHBoxLayout;
class QMenu;

namespace kestrune {

// The row of named quick-send buttons under the send area: hidden while there
// are none. A click (or F1 to F12, which the window routes here) asks for a
// button's frame to be sent; the right button edits, adds and removes them.
class TQuickSendBar : public QWidget
{
    Q_OBJECT

public:
    // Asks the user for a button's name, mode and data; false when cancelled.
    using TEditor = std::function<bool(TQuickSend &button, QWidget *parent)>;

    explicit TQuickSendBar(QWidget *parent = nullptr);

    void SetButtons(const std::vector<TQuickSend> &buttons);
    [[nodiscard]] const std::vector<TQuickSend> &Buttons() const { return FButtons; }
    // Tests answer the edit dialog through this.
    void SetEditor(TEditor editor) { FEditor = std::move(editor); }

    // The menu of a right click on button `index`, or on no button (-1).
    [[nodiscard]] QMenu *CreateMenu(int index, QWidget *parent);
    void Press(int index);
    void Add();
    void Edit(int index);
    void Remove(int index);

signals:
    void pressed(int index);
    // The user changed the buttons; Buttons() holds them.
    void changed();
    // New buttons are shown, changed by the user or not.
    void buttonsShown();

private:
    void Rebuild();

    std::vector<TQuickSend> FButtons;
    QHBoxLayout *FRow = nullptr;
    TEditor FEditor;
};

// The edit dialog of a quick-send button.
[[nodiscard]] bool EditQuickSend(TQuickSend &button, QWidget *parent);

} // namespace kestrune
