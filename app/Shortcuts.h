#pragma once

#include <QKeySequence>
#include <QString>

namespace kestrune {

// The main window's shortcuts, named in the tool tips, the README and the man
// page. F1 to F12 press the quick-send buttons.
inline const QKeySequence StartStopKey{Qt::CTRL | Qt::Key_O};
inline const QKeySequence ClearAllKey{Qt::CTRL | Qt::Key_L};
inline const QKeySequence FindKey{Qt::CTRL | Qt::Key_F};
inline const QKeySequence BreakKey{Qt::CTRL | Qt::SHIFT | Qt::Key_B};
inline const QKeySequence DtrKey{Qt::CTRL | Qt::SHIFT | Qt::Key_D};
inline const QKeySequence RtsKey{Qt::CTRL | Qt::SHIFT | Qt::Key_R};

// "hint (Ctrl+O)".
[[nodiscard]] inline QString WithKey(const QString &hint, const QKeySequence &key)
{
    return hint + QStringLiteral(" (") + key.toString(QKeySequence::NativeText) +
           QStringLiteral(")");
}

} // namespace kestrune
