#pragma once

#include "app/Dialogs.h"
#include "app/MainFrm.h"
#include "common/AppPaths.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

// The texts a start moment between `from` and `to` can have in the status
// pane hints, one per second, in the system locale's own formatting.
QStringList StartTexts(const QDateTime &from, const QDateTime &to);
// The hints a pane can show for a start between `from` and `to`: "From", the
// start text, then `tail`.
QStringList PaneHints(const QDateTime &from, const QDateTime &to, const QString &tail);

// A main window with a settings file, a current directory and a "Login.txt"
// folder of its own; message boxes are recorded instead of shown.
class MainWindowTest : public ::testing::Test
{
protected:
    struct Message
    {
        QString caption;
        QString text;
    };

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        kestrune::paths::SetDataDirOverride(dir.path().toStdString());
        previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        kestrune::dialogs::SetMessageHook(
            [this](const QString &caption, const QString &text, kestrune::dialogs::TMsgIcon) {
                messages.push_back({caption, text});
            });
    }

    void TearDown() override
    {
        window.reset();
        kestrune::dialogs::SetMessageHook({});
        kestrune::dialogs::SetOpenFileHook({});
        kestrune::dialogs::SetSaveFileHook({});
        kestrune::paths::SetDataDirOverride({});
        QDir::setCurrent(previousDir);
    }

    std::string settingsPath() const { return kestrune::paths::SettingsFilePath(); }

    void writeSettings(const std::string &content) const;
    std::string readSettings() const;

    kestrune::TfrmMain &open()
    {
        window = std::make_unique<kestrune::TfrmMain>();
        return *window;
    }

    // Destroys the window, which runs its exit steps.
    void close() { window.reset(); }

    template <typename T> T *find(const char *name) const
    {
        T *w = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << "no widget " << name;
        return w;
    }

    QTemporaryDir dir;
    QString previousDir;
    std::vector<Message> messages;
    std::unique_ptr<kestrune::TfrmMain> window;
};
