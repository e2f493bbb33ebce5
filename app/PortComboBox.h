#pragma once

#include "serial/PortList.h"

#include <QComboBox>

#include <functional>
#include <vector>

namespace kestrune {

// The port box: its list is read again from udev each time it drops down, so
// an adapter plugged in meanwhile is there, marked "*", with what udev knows
// of it as the item's tool tip. What the user typed or chose stays.
class TPortComboBox : public QComboBox
{
    Q_OBJECT

public:
    using TSource = std::function<std::vector<TPresentPort>()>;

    explicit TPortComboBox(QWidget *parent = nullptr);

    // Test seam: where the present ports come from. Unset: udev.
    static inline TSource Source;

    // Rebuilds the items, keeping the text in the box.
    void Refresh();
    void showPopup() override;
};

} // namespace kestrune
