#include "app/QuickSendBar.h"

#include "engine/ChoiceLists.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

namespace kestrune {

TQuickSendBar::TQuickSendBar(QWidget *parent) : QWidget(parent), FEditor(EditQuickSend)
{
    setObjectName(QStringLiteral("pnlQuickSend"));
    FRow = new QHBoxLayout(this);
    FRow->setContentsMargins(0, 2, 0, 0);
    FRow->setSpacing(3);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        QMenu *menu = CreateMenu(-1, this);
        menu->popup(mapToGlobal(at));
    });
    hide();
}

void TQuickSendBar::SetButtons(const std::vector<TQuickSend> &buttons)
{
    FButtons.assign(buttons.begin(), buttons.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                           buttons.size(), MaxQuickSends)));
    Rebuild();
}

void TQuickSendBar::Rebuild()
{
    while (QLayoutItem *item = FRow->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (std::size_t i = 0; i < FButtons.size(); ++i) {
        const int index = static_cast<int>(i);
        const QString name = QString::fromUtf8(FButtons[i].Name);
        auto *button =
            new QPushButton(name.isEmpty() ? QStringLiteral("F%1").arg(index + 1) : name);
        button->setObjectName(QStringLiteral("btnQuickSend%1").arg(index + 1));
        button->setToolTip(QStringLiteral("Sends %1 (F%2)")
                               .arg(QString::fromUtf8(FButtons[i].Data))
                               .arg(index + 1));
        button->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(button, &QPushButton::clicked, this, [this, index] { Press(index); });
        connect(button, &QWidget::customContextMenuRequested, this,
                [this, button, index](const QPoint &at) {
                    CreateMenu(index, this)->popup(button->mapToGlobal(at));
                });
        FRow->addWidget(button);
    }
    FRow->addStretch(1);
    setVisible(!FButtons.empty());
    emit buttonsShown();
}

QMenu *TQuickSendBar::CreateMenu(int index, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (index >= 0 && static_cast<std::size_t>(index) < FButtons.size()) {
        QAction *edit = menu->addAction(QStringLiteral("Edit Button..."));
        edit->setObjectName(QStringLiteral("pmiQuickEdit"));
        connect(edit, &QAction::triggered, this, [this, index] { Edit(index); });
        QAction *remove = menu->addAction(QStringLiteral("Remove Button"));
        remove->setObjectName(QStringLiteral("pmiQuickRemove"));
        connect(remove, &QAction::triggered, this, [this, index] { Remove(index); });
    }
    QAction *add = menu->addAction(QStringLiteral("Add Quick-Send Button..."));
    add->setObjectName(QStringLiteral("pmiQuickAdd"));
    add->setEnabled(FButtons.size() < MaxQuickSends);
    connect(add, &QAction::triggered, this, [this] { Add(); });
    return menu;
}

void TQuickSendBar::Press(int index)
{
    if (index >= 0 && static_cast<std::size_t>(index) < FButtons.size())
        emit pressed(index);
}

void TQuickSendBar::Add()
{
    if (FButtons.size() >= MaxQuickSends)
        return;
    TQuickSend button;
    if (!FEditor(button, window()))
        return;
    FButtons.push_back(std::move(button));
    Rebuild();
    emit changed();
}

void TQuickSendBar::Edit(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= FButtons.size())
        return;
    TQuickSend button = FButtons[static_cast<std::size_t>(index)];
    if (!FEditor(button, window()))
        return;
    FButtons[static_cast<std::size_t>(index)] = std::move(button);
    Rebuild();
    emit changed();
}

void TQuickSendBar::Remove(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= FButtons.size())
        return;
    FButtons.erase(FButtons.begin() + index);
    Rebuild();
    emit changed();
}

bool EditQuickSend(TQuickSend &button, QWidget *parent)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgQuickSend"));
    dialog.setWindowTitle(QStringLiteral("Quick-Send Button"));
    auto *form = new QFormLayout(&dialog);
    auto *name = new QLineEdit(QString::fromUtf8(button.Name));
    name->setObjectName(QStringLiteral("edtQuickName"));
    auto *mode = new QComboBox;
    mode->setObjectName(QStringLiteral("cboQuickMode"));
    for (const char *text : DataModeTexts)
        mode->addItem(QString::fromLatin1(text));
    mode->setCurrentIndex(button.DataMode);
    auto *data = new QLineEdit(QString::fromUtf8(button.Data));
    data->setObjectName(QStringLiteral("edtQuickData"));
    data->setMinimumWidth(240);
    form->addRow(QStringLiteral("Name:"), name);
    form->addRow(QStringLiteral("Mode:"), mode);
    form->addRow(QStringLiteral("Data:"), data);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    button.Name = name->text().toUtf8().toStdString();
    button.DataMode = static_cast<std::uint8_t>(std::max(0, mode->currentIndex()));
    button.Data = data->text().toUtf8().toStdString();
    return true;
}

} // namespace kestrune
