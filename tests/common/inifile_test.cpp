#include "common/IniFile.h"
#include "support/UnreadableFile.h"

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace kestrune;

namespace {

std::string readFile(const std::string &path)
{
    return ReadWholeFile(path).value_or("<missing>");
}

void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}

} // namespace

TEST(IniText, LookupRules)
{
    const std::string content = "junk before any section\n"
                                "[Main]\r\n"
                                "  Port = COM3  \r\n"
                                "Quoted=\"  spaced  \"\n"
                                "Single='x'\n"
                                "line without equals sign\n"
                                "Port=second\n"
                                "[main]\n"
                                "Other=in duplicate section\n"
                                "[ Other ]\n"
                                "Empty=\n";
    EXPECT_EQ(IniLookup(content, "MAIN", "port"), "COM3");
    EXPECT_EQ(IniLookup(content, "Main", "Quoted"), "  spaced  ");
    EXPECT_EQ(IniLookup(content, "Main", "Single"), "x");
    EXPECT_EQ(IniLookup(content, "Main", "Other"), std::nullopt) << "only the first section counts";
    EXPECT_EQ(IniLookup(content, "Other", "Empty"), "");
    EXPECT_EQ(IniLookup(content, "Other", "Missing"), std::nullopt);
    EXPECT_EQ(IniLookup(content, "Absent", "Port"), std::nullopt);
}

TEST(IniText, ValuesAreCutAt2047Characters)
{
    const std::string longValue(5000, 'v');
    const std::string content = "[S]\nK=" + longValue + "\n";
    EXPECT_EQ(IniLookup(content, "S", "K")->size(), 2047u);
}

TEST(IniText, UpdateKeepsPlacesAndAppends)
{
    std::string text;
    text = IniUpdate(text, "Main", "Method", "Serial");
    text = IniUpdate(text, "Main", "Port", "COM1");
    text = IniUpdate(text, "Other", "TransNum", "0");
    EXPECT_EQ(text, "[Main]\r\nMethod=Serial\r\nPort=COM1\r\n[Other]\r\nTransNum=0\r\n");

    // A rewritten key keeps its place; a new one goes to the end of its section.
    text = IniUpdate(text, "main", "METHOD", "UDP");
    text = IniUpdate(text, "Main", "Baudrate", "9600");
    EXPECT_EQ(text,
              "[Main]\r\nMETHOD=UDP\r\nPort=COM1\r\nBaudrate=9600\r\n[Other]\r\nTransNum=0\r\n");

    // LF-only input is read and written back with CR LF; blank lines stay after the new key.
    text = IniUpdate("[A]\nx=1\n\n[B]\ny=2\n", "A", "z", "3");
    EXPECT_EQ(text, "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n");
}

TEST(IniFile, ReadsTypedValuesWithDefaults)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("k.ini").toStdString();
    writeFile(path, "[S]\nhex=0x2580\ndollar=$10\nbad=fast\nempty=\nbool0=0\nbool5=5\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("S", "hex", 1), 9600);
    EXPECT_EQ(ini.ReadInteger("S", "dollar", 1), 16);
    EXPECT_EQ(ini.ReadInteger("S", "bad", 9600), 9600);
    EXPECT_EQ(ini.ReadInteger("S", "empty", 7), 7);
    EXPECT_EQ(ini.ReadInteger("S", "missing", 8), 8);
    EXPECT_FALSE(ini.ReadBool("S", "bool0", true));
    EXPECT_TRUE(ini.ReadBool("S", "bool5", false));
    EXPECT_TRUE(ini.ReadBool("S", "missing", true));
    EXPECT_EQ(ini.ReadString("S", "missing", "def"), "def");
}

TEST(IniFile, UnreadableFilesGiveDefaults)
{
    QTemporaryDir dir;
    const std::string asDir = dir.filePath("dir.ini").toStdString();
    std::filesystem::create_directory(asDir);
    EXPECT_EQ(TIniFile(asDir).ReadInteger("S", "k", 3), 3);
    EXPECT_EQ(TIniFile(dir.filePath("none.ini").toStdString()).ReadString("S", "k", "d"), "d");

    const std::string garbage = dir.filePath("garbage.ini").toStdString();
    std::string bytes;
    for (int i = 0; i < 300000; ++i)
        bytes.push_back(static_cast<char>((static_cast<unsigned>(i) * 7919u) % 256u));
    writeFile(garbage, bytes);
    EXPECT_EQ(TIniFile(garbage).ReadString("Main", "Port", "COM1"), "COM1");
}

TEST(IniFile, ReadOnceKeptInMemoryAndWrittenWholeOnUpdate)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("k.ini").toStdString();
    writeFile(path, "; a comment line\n[Unknown]\nKept=1\n[Main]\nPort=COM9\nFuture=yes\n");
    TIniFile ini(path);
    writeFile(path, "[Main]\nPort=changed behind its back\n");
    EXPECT_EQ(ini.ReadString("Main", "Port", ""), "COM9") << "the file is read once";

    ini.WriteString("Main", "Port", "COM2");
    ini.WriteInteger("Other", "Timeout", -1);
    ini.WriteString("Other", "SendText", "line one\r\nline two\n");
    EXPECT_EQ(readFile(path), "[Main]\nPort=changed behind its back\n") << "nothing written yet";
    EXPECT_EQ(ini.ReadString("Main", "Port", ""), "COM2");

    ini.UpdateFile();
    EXPECT_EQ(readFile(path), "; a comment line\r\n[Unknown]\r\nKept=1\r\n[Main]\r\nPort=COM2\r\n"
                              "Future=yes\r\n[Other]\r\nTimeout=-1\r\n"
                              "SendText=line one  line two \r\n");
    // Only the lock file is left beside it, no temporary file.
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir.path().toStdString()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"k.ini", "k.ini.lock"}));
}

TEST(IniFile, AFileThatCannotBeReplacedRaisesTheWriteError)
{
    QTemporaryDir dir;
    const std::string noFolder = dir.filePath("missing/k.ini").toStdString();
    TIniFile ini(noFolder);
    EXPECT_EQ(ini.ReadError(), "") << "a missing file is a first start";
    ini.WriteString("Main", "Port", "COM1");
    try {
        ini.UpdateFile();
        ADD_FAILURE() << "write to " << noFolder << " succeeded";
    } catch (const EIniWriteError &e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + noFolder);
    }
}

// A settings file that is there but cannot be read would be replaced by
// defaults at exit: the user's channels and relays would be gone. It says why
// once and is never written.
TEST(IniFile, AFileThatIsThereButCannotBeReadSaysWhyAndIsNeverWritten)
{
    QTemporaryDir dir;
    const std::string kept = "[Main]\r\nPort=COM7\r\n";
    const std::string unreadable = dir.filePath("unreadable.ini").toStdString();
    writeFile(unreadable, kept);
    const std::string folder = dir.filePath("folder.ini").toStdString();
    std::filesystem::create_directory(folder);
    const std::string pipe = dir.filePath("pipe.ini").toStdString();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string loop = dir.filePath("loop.ini").toStdString();
    std::filesystem::create_symlink("loop.ini", loop);
    const std::pair<std::string, std::string> cases[] = {
        {unreadable, "Permission denied"},
        {folder, "Is a directory"},
        {pipe, "not a regular file"},
        {loop, "Too many levels of symbolic links"}};

    for (const auto &[path, reason] : cases) {
        SCOPED_TRACE(path);
        std::optional<TUnreadableFile> denied;
        if (path == unreadable)
            denied.emplace(unreadable);
        TIniFile ini(path);
        denied.reset();
        EXPECT_EQ(ini.ReadError(), "Unable to read " + path + ": " + reason +
                                       ".\r\nThe program starts with default settings and "
                                       "leaves the file as it is: changes are not saved to it.");
        EXPECT_EQ(ini.ReadString("Main", "Port", "COM1"), "COM1");
        ini.WriteString("Main", "Port", "COM2");
        EXPECT_NO_THROW(ini.UpdateFile());
    }
    EXPECT_EQ(readFile(unreadable), kept);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
    EXPECT_TRUE(std::filesystem::is_symlink(loop));
    EXPECT_FALSE(std::filesystem::exists(unreadable + ".lock")) << "not even the lock was taken";
}

// Copies of the program exiting together: each one loaded its own version of
// the file and saves it at the same moment. The file must end up as exactly one
// of the two, every time.
TEST(IniFile, TwoProcessesSavingAtOnceLeaveOneWholeFile)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("shared.ini").toStdString();
    // A large enough file that a write takes a while and could interleave.
    auto version = [](const std::string &who, int relays) {
        std::string text =
            "[Other]\r\nTransNum=" + std::to_string(relays) + "\r\nWho=" + who + "\r\n";
        for (int i = 0; i < relays; ++i)
            text += "[Trans" + std::to_string(i) + "]\r\nOwner=" + who +
                    "\r\nPad=" + std::string(4000, who[0]) + "\r\n";
        return text;
    };
    const std::string a = version("A", 40);
    const std::string b = version("B", 70);
    std::set<std::string> seen;
    for (int round = 0; round < 12; ++round) {
        std::vector<pid_t> children;
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        for (const std::string *content : {&a, &b}) {
            int ready[2];
            ASSERT_EQ(::pipe(ready), 0);
            writeFile(path, *content);
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                TIniFile ini(path);
                ini.WriteString("Other", "Saved", "yes");
                char byte = 0;
                bool ok = ::write(ready[1], "r", 1) == 1 && ::read(go[0], &byte, 1) == 1;
                try {
                    ini.UpdateFile();
                } catch (...) {
                    ok = false;
                }
                ::_exit(ok ? 0 : 1);
            }
            children.push_back(pid);
            char byte = 0;
            ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the copy has loaded its version";
            ::close(ready[0]);
            ::close(ready[1]);
        }
        ASSERT_EQ(::write(go[1], "gg", 2), 2);
        ::close(go[0]);
        ::close(go[1]);
        for (const pid_t pid : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        const std::string result = readFile(path);
        const std::string savedA = IniUpdate(a, "Other", "Saved", "yes");
        const std::string savedB = IniUpdate(b, "Other", "Saved", "yes");
        ASSERT_TRUE(result == savedA || result == savedB)
            << "round " << round << ": a mix of " << result.size() << " bytes";
        seen.insert(result == savedA ? "A" : "B");
    }
    EXPECT_FALSE(seen.empty());
}
