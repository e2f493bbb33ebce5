#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>

// The real program copied into a folder of its own, so that its settings file
// (beside it) and its current folder belong to one test.
class TProgramCopy
{
public:
    TProgramCopy() { std::filesystem::copy_file(KESTRUNE_PROGRAM, Program); }

    [[nodiscard]] QString Folder() const { return FDir.path(); }

    // Starts the copy headless in its folder: true once it has read its
    // settings file (which must be there), closing it again without writing.
    [[nodiscard]] bool StartAndAwaitSettingsRead(QProcess &process) const
    {
        const int watch = ::inotify_init1(IN_CLOEXEC);
        const bool watching = ::inotify_add_watch(watch, Ini.c_str(), IN_CLOSE_NOWRITE) >= 0;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(FDir.path());
        process.start(QString::fromStdString(Program), {});
        pollfd ready{watch, POLLIN, 0};
        const bool read =
            watching && process.waitForStarted(10000) && ::poll(&ready, 1, 20000) == 1;
        ::close(watch);
        return read;
    }

private:
    QTemporaryDir FDir;

public:
    const std::string Program = FDir.filePath("kestrune").toStdString();
    const std::string Ini = Program + ".ini";
};
