// Where the file dialogs start: the folder last chosen in either while it
// exists, else the home folder, never the program's own folder (/usr/bin once
// installed), which the window hands in for the command list.
#include "app/Dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

class FileDialogFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        const auto hook = [this](const QString &folder, const QString &) {
            Asked.push_back(folder);
            return Answer;
        };
        dialogs::SetOpenFileHook(hook);
        dialogs::SetSaveFileHook(hook);
    }

    void TearDown() override
    {
        dialogs::SetOpenFileHook({});
        dialogs::SetSaveFileHook({});
    }

    QString Open() { return dialogs::GetOpenFileName(nullptr, ProgramFolder, "Any file (*)"); }
    QString Save() { return dialogs::GetSaveFileName(nullptr, QString(), "Text files (*.txt)"); }

    QTemporaryDir Dir;
    const QString ProgramFolder = QCoreApplication::applicationDirPath();
    QStringList Asked;
    QString Answer;
};

TEST_F(FileDialogFolderTest, StartInTheLastFolderChosenElseTheHomeFolder)
{
    // Whatever an earlier test left is made to vanish first.
    ASSERT_TRUE(QDir(Dir.path()).mkdir("gone"));
    Answer = Dir.filePath("gone/list.txt");
    Open();
    ASSERT_TRUE(QDir(Dir.filePath("gone")).removeRecursively());

    Answer = Dir.filePath("lists/list.txt");
    ASSERT_TRUE(QDir(Dir.path()).mkdir("lists"));
    Asked.clear();
    EXPECT_EQ(Open(), Answer);
    Answer.clear(); // cancelled: nothing chosen, nothing remembered
    Save();
    Open();
    Answer = Dir.filePath("saved.txt");
    Save();
    Open();
    ASSERT_TRUE(QDir(Dir.filePath("lists")).removeRecursively());
    ASSERT_TRUE(QDir(Dir.path()).removeRecursively());
    Save();
    Open();
    const QStringList expected{
        QDir::homePath(), Dir.filePath("lists"), Dir.filePath("lists"), Dir.filePath("lists"),
        Dir.path(),       QDir::homePath(),      QDir::homePath()};
    EXPECT_EQ(Asked, expected);
    EXPECT_FALSE(Asked.contains(ProgramFolder));
}

} // namespace
} // namespace kestrune
