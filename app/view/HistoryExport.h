#pragma once

#include "app/view/ShownText.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace kestrune {

class THistoryView;

// What a history view gives away of its text: the selection to the
// clipboard and to the primary selection, up to ClipboardLimit of text,
// prefixes and all; the selection or the whole text to a file (Save As).
class THistoryExport
{
public:
    // Larger selections are not put on the clipboard; Save As takes them.
    static constexpr std::uint64_t ClipboardLimit = 64ull << 20;

    // Asks where to save; an empty name means the user cancelled.
    using TAskFileName = std::function<QString()>;
    // Tells the user something; error is true for a failure.
    using TReport = std::function<void(const QString &text, bool error)>;

    explicit THistoryExport(THistoryView &view) : FView(view) {}

    void SetAskFileName(TAskFileName ask) { FAskFileName = std::move(ask); }
    void SetReport(TReport report) { FReport = std::move(report); }

    // A part of the text from its start to its end: the selection, or all.
    [[nodiscard]] bool WholeSelected() const;
    void Copy() const;
    void SetPrimarySelection() const;
    void SaveAs() const;
    bool SaveText(const QString &fileName) const;

private:
    [[nodiscard]] TShownText Shown() const;
    [[nodiscard]] bool SelectionTooLarge() const;
    void Report(const QString &text, bool error) const;

    THistoryView &FView;
    TAskFileName FAskFileName;
    TReport FReport;
};

} // namespace kestrune
