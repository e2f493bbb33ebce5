#include "common/AtomicFile.h"
#include "common/IniFile.h"

#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace kestrune {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct stat statusOf(const fs::path &path)
{
    struct stat status
    {
    };
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status;
}

mode_t usualMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Where the settings are saved through, and the file that must take the text.
struct LinkCase
{
    const char *name;
    std::vector<std::pair<std::string, std::string>> links; // name, where it leads
    const char *target;                                     // relative to the folder
    mode_t mode;                                            // 0: the file is not there yet
};

const LinkCase LinkCases[] = {
    {"plain file kept private", {}, "s.ini", 0600},
    {"link to a dotfiles folder", {{"s.ini", "<abs>/dotfiles/s.ini"}}, "dotfiles/s.ini", 0640},
    {"chain of relative links",
     {{"s.ini", "hop.ini"}, {"hop.ini", "dotfiles/s.ini"}},
     "dotfiles/s.ini",
     0604},
    {"link to a file not made yet", {{"s.ini", "dotfiles/new.ini"}}, "dotfiles/new.ini", 0},
};

TEST(AtomicFile, ReplacesTheFileTheLinksLeadToKeepingItsModeAndOwner)
{
    for (const bool unnamed : {true, false}) {
        SetUnnamedTemporariesAllowed(unnamed);
        for (const LinkCase &c : LinkCases) {
            SCOPED_TRACE(std::string(c.name) + (unnamed ? ", unnamed" : ", named"));
            QTemporaryDir dir;
            const fs::path folder = dir.path().toStdString();
            fs::create_directory(folder / "dotfiles");
            const fs::path target = folder / c.target;
            // Root may give the file away, so the owner is seen to be kept.
            const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
            const gid_t group = ::geteuid() == 0 ? 65534 : ::getegid();
            if (c.mode != 0) {
                std::ofstream(target) << "old";
                ASSERT_EQ(::chmod(target.c_str(), c.mode), 0);
                ASSERT_EQ(::chown(target.c_str(), owner, group), 0);
            }
            for (const auto &[name, to] : c.links) {
                std::string where = to;
                if (where.starts_with("<abs>"))
                    where.replace(0, 5, folder.string());
                fs::create_symlink(where, folder / name);
            }

            ASSERT_EQ(ReplaceFileAtomically((folder / "s.ini").string(), "new"), 0);
            EXPECT_EQ(ReadWholeFile(target.string()), "new");
            for (const auto &[name, to] : c.links)
                EXPECT_TRUE(fs::is_symlink(folder / name)) << name << " is still a link";
            const struct stat status = statusOf(target);
            EXPECT_EQ(status.st_mode & 07777, c.mode != 0 ? c.mode : usualMode());
            if (c.mode != 0) {
                EXPECT_EQ(status.st_uid, owner);
                EXPECT_EQ(status.st_gid, group);
            }
            std::vector<std::string> expected{"dotfiles"};
            for (const auto &link : c.links)
                expected.push_back(link.first);
            if (c.links.empty())
                expected.push_back(c.target);
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(namesIn(folder), expected) << "no temporary file left";
            EXPECT_EQ(namesIn(folder / "dotfiles").size(), c.links.empty() ? 0u : 1u);
        }
    }
    SetUnnamedTemporariesAllowed(true);
}

TEST(AtomicFile, WhatIsNoRegularFileIsNotReplaced)
{
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    fs::create_symlink("/dev/null", folder / "device.ini");
    fs::create_symlink("loop.ini", folder / "loop.ini");
    fs::create_directory(folder / "folder.ini");
    const std::pair<const char *, int> cases[] = {
        {"device.ini", EINVAL}, {"loop.ini", ELOOP}, {"folder.ini", EISDIR}};
    for (const auto &[name, error] : cases)
        EXPECT_EQ(ReplaceFileAtomically((folder / name).string(), "x"), error) << name;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_TRUE(fs::is_directory(folder / "folder.ini"));
    EXPECT_EQ(namesIn(folder), (std::vector<std::string>{"device.ini", "folder.ini", "loop.ini"}));
}

// A save killed with SIGKILL at one of its steps: the settings file is the old
// one, whole, and once the next save has run nothing else is left beside it.
struct KilledSave
{
    const char *name;
    bool unnamed;
    TReplaceStep step;
    std::size_t leftBehind; // temporary files right after the kill
};

void PrintTo(const KilledSave &c, std::ostream *os)
{
    *os << c.name;
}

class SaveKilled : public ::testing::TestWithParam<KilledSave>
{
protected:
    void TearDown() override { SetUnnamedTemporariesAllowed(true); }
};

TEST_P(SaveKilled, LeavesTheOldFileWholeAndNoTemporaryFileForLong)
{
    const KilledSave &c = GetParam();
    SetUnnamedTemporariesAllowed(c.unnamed);
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    const std::string path = (folder / "kestrune.ini").string();
    const std::string old = "[Main]\r\nPort=COM7\r\n";
    std::ofstream(path, std::ios::binary) << old;

    int reached[2];
    ASSERT_EQ(::pipe(reached), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        SetReplaceStepHook([&](TReplaceStep step) {
            if (step != c.step)
                return;
            [[maybe_unused]] auto n = ::write(reached[1], "k", 1);
            ::pause(); // until killed
        });
        TIniFile ini(path);
        ini.WriteString("Main", "Port", std::string(100000, 'n'));
        try {
            ini.UpdateFile();
        } catch (...) {
        }
        ::_exit(1); // the step was never reached
    }
    ::close(reached[1]);
    char byte = 0;
    const bool stopped = ::read(reached[0], &byte, 1) == 1;
    ::close(reached[0]);
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(stopped) << "the save never reached its step";
    EXPECT_EQ(ReadWholeFile(path), old);
    EXPECT_EQ(namesIn(folder).size(), 2 + c.leftBehind) << "the file, the lock and leftovers";

    TIniFile ini(path);
    ini.WriteString("Main", "Port", "COM8");
    ini.UpdateFile();
    EXPECT_EQ(namesIn(folder), (std::vector<std::string>{"kestrune.ini", "kestrune.ini.lock"}));
    EXPECT_EQ(TIniFile(path).ReadString("Main", "Port", ""), "COM8");
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SaveKilled,
    ::testing::Values(KilledSave{"UnnamedFileWritten", true, TReplaceStep::Written, 0},
                      KilledSave{"UnnamedFileJustNamed", true, TReplaceStep::Named, 1},
                      KilledSave{"NamedFileWritten", false, TReplaceStep::Written, 1}),
    [](const auto &p) { return std::string(p.param.name); });

} // namespace
} // namespace kestrune
