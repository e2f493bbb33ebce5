#include "common/IniFile.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(IniFile, WritesAtomicallyAndReportsFailure)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("k.ini").toStdString();
    TIniFile ini(path);
    ini.WriteString("Main", "Port", "COM2");
    ini.WriteInteger("Main", "Timeout", -1);
    EXPECT_EQ(readFile(path), "[Main]\r\nPort=COM2\r\nTimeout=-1\r\n");
    EXPECT_EQ(ini.ReadString("Main", "Port", ""), "COM2");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path().toStdString()),
                            std::filesystem::directory_iterator{}),
              1);

    const std::string blocked = dir.filePath("blocked.ini").toStdString();
    std::filesystem::create_directory(blocked);
    TIniFile bad(blocked);
    try {
        bad.WriteString("Main", "Port", "COM1");
        FAIL() << "write into a directory succeeded";
    } catch (const EIniWriteError &e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + blocked);
    }
    TIniFile noFolder(dir.filePath("missing/k.ini").toStdString());
    EXPECT_THROW(noFolder.WriteString("Main", "Port", "COM1"), EIniWriteError);
}
