#include "MainWindowFixture.h"

#include "common/IniFile.h"

#include <fstream>

void MainWindowTest::writeSettings(const std::string &content) const
{
    std::ofstream(settingsPath(), std::ios::binary) << content;
}

std::string MainWindowTest::readSettings() const
{
    return kestrune::ReadWholeFile(settingsPath()).value_or("<no settings file>");
}
