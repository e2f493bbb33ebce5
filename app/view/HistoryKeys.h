#pragma once

#include "app/view/TextCells.h"

class QKeyEvent;

namespace kestrune {

class THistoryView;

// The keyboard of a history view: the caret and the selection move as in a
// read-only text editor (a CR LF is one step), Ctrl+Up and Ctrl+Down scroll,
// and the copy, select-all and find keys reach the view.
class THistoryKeys
{
public:
    explicit THistoryKeys(THistoryView &view) : FView(view) {}

    // Acts on a key; false for a key that is not the view's.
    bool KeyPress(QKeyEvent *event);

private:
    [[nodiscard]] TTextPos StepLeft(TTextPos pos) const;
    [[nodiscard]] TTextPos StepRight(TTextPos pos) const;
    [[nodiscard]] char CharAt(TTextPos pos) const;

    THistoryView &FView;
};

} // namespace kestrune
