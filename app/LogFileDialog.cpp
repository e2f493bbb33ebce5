#include "app/LogFileDialog.h"

#include "app/Dialogs.h"
#include "engine/Channel.h"
#include "engine/Settings.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrune {

namespace {

template <typename T> T *Named(T *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

TLogFileDialog::TLogFileDialog(const TGeneralSettings &settings, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmLogFile"));
    setWindowTitle(QStringLiteral("Log file"));
    edtLogFolder = Named(new QLineEdit(QString::fromStdString(settings.LogFolder)), "edtLogFolder");
    edtLogFolder->setPlaceholderText(QStringLiteral("the current folder"));
    btnLogFolder = Named(new QPushButton(QStringLiteral("...")), "btnLogFolder");
    edtLogName = Named(new QLineEdit(QString::fromStdString(settings.LogName)), "edtLogName");
    edtLogName->setToolTip(
        QStringLiteral("%Y %m %d %H %M %S: the date and time logging started; %% a percent sign"));
    chkLogAppend = Named(new QCheckBox(QStringLiteral("Append to the file")), "chkLogAppend");
    chkLogAppend->setChecked(settings.LogAppend);
    edtLogRotateSize = Named(new QLineEdit(QString::fromStdString(settings.LogRotateSizeText)),
                             "edtLogRotateSize");
    edtLogRotateSize->setToolTip(QStringLiteral("Bytes, or with k or M; 0 never"));
    btnOK = Named(new QPushButton(QStringLiteral("OK")), "btnOK");
    btnOK->setDefault(true);
    btnCancel = Named(new QPushButton(QStringLiteral("Cancel")), "btnCancel");

    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(edtLogFolder, 1);
    folderRow->addWidget(btnLogFolder);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Folder:"), folderRow);
    form->addRow(QStringLiteral("File name:"), edtLogName);
    form->addRow(QString(), chkLogAppend);
    form->addRow(QStringLiteral("New file past:"), edtLogRotateSize);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    setMinimumWidth(420);

    connect(btnLogFolder, &QPushButton::clicked, this, [this] {
        const QString folder =
            QFileDialog::getExistingDirectory(this, windowTitle(), edtLogFolder->text());
        if (!folder.isEmpty())
            edtLogFolder->setText(folder);
    });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnOK, &QPushButton::clicked, this, [this] {
        if (const QString problem = Problem(); !problem.isEmpty()) {
            dialogs::ShowError(this, problem);
            return;
        }
        accept();
    });
}

QString TLogFileDialog::Problem() const
{
    const QString folder = edtLogFolder->text().trimmed();
    if (!folder.isEmpty() && !QDir(folder).exists())
        return QStringLiteral("The folder \"%1\" does not exist.").arg(folder);
    const QString name = edtLogName->text().trimmed();
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return QStringLiteral("Name the log file without a folder; the folder has its own field.");
    if (ParseSizeText(edtLogRotateSize->text().trimmed().toStdString()) < 0)
        return QStringLiteral("\"%1\" is no size: give bytes, or a number with k or M (0: never).")
            .arg(edtLogRotateSize->text());
    return {};
}

void TLogFileDialog::Store(TGeneralSettings &settings) const
{
    settings.LogFolder = edtLogFolder->text().trimmed().toStdString();
    settings.LogName = edtLogName->text().trimmed().toStdString();
    settings.LogAppend = chkLogAppend->isChecked();
    settings.LogRotateSizeText = edtLogRotateSize->text().trimmed().toStdString();
    settings.LogRotateSize = ParseSizeText(settings.LogRotateSizeText);
}

} // namespace kestrune
