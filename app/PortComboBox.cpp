#include "app/PortComboBox.h"

#include <QSignalBlocker>

namespace kestrune {

TPortComboBox::TPortComboBox(QWidget *parent) : QComboBox(parent) {}

void TPortComboBox::Refresh()
{
    const QString text = currentText();
    const std::vector<TPresentPort> present = Source ? Source() : ListPresentPorts();
    std::vector<std::string> names;
    names.reserve(present.size());
    for (const TPresentPort &port : present)
        names.push_back(port.Name);

    // The rebuild is no choice of the user's: nobody hears of it.
    const QSignalBlocker blocker(this);
    clear();
    for (const std::string &name : BuildPortList(names)) {
        addItem(QString::fromUtf8(name));
        const std::string bare =
            !name.empty() && name.back() == '*' ? name.substr(0, name.size() - 1) : name;
        for (const TPresentPort &port : present) {
            if (port.Name == bare && !PortToolTip(port).empty()) {
                setItemData(count() - 1, QString::fromUtf8(PortToolTip(port)), Qt::ToolTipRole);
                break;
            }
        }
    }
    const int chosen = findText(text, Qt::MatchExactly);
    if (chosen >= 0)
        setCurrentIndex(chosen);
    else
        setEditText(text);
}

void TPortComboBox::showPopup()
{
    Refresh();
    QComboBox::showPopup();
}

} // namespace kestrune
