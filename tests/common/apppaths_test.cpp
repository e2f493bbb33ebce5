#include "common/AppPaths.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <unistd.h>

using namespace kestrune;

namespace {

// Sets or removes an environment variable for one test and puts it back after.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, std::optional<std::string> value) : FName(name)
    {
        if (const char *old = std::getenv(name))
            FOld = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (FOld)
            ::setenv(FName, FOld->c_str(), 1);
        else
            ::unsetenv(FName);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *FName;
    std::optional<std::string> FOld;
};

std::string passwdHome()
{
    const passwd *pw = ::getpwuid(::getuid());
    return pw ? pw->pw_dir : "";
}

// The running program as if it were at `path`, settings in an own config home.
class SettingsLocation : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void TearDown() override { paths::SetExecutablePathOverride({}); }

    std::string Path(const char *name) const { return dir.filePath(name).toStdString(); }

    QTemporaryDir dir;
};

} // namespace

TEST(UserConfigDir, XdgWhenAbsoluteThenHomeThenPasswdEntry)
{
    struct TCase
    {
        std::optional<std::string> Xdg;
        std::optional<std::string> Home;
        std::string Expected;
    };
    const TCase cases[] = {
        {"/xdg/config", "/home/ann", "/xdg/config"},
        {"relative/config", "/home/ann", "/home/ann/.config"},
        {"", "/home/ann", "/home/ann/.config"},
        {std::nullopt, "/home/ann", "/home/ann/.config"},
        {std::nullopt, "", passwdHome() + "/.config"},
        {std::nullopt, std::nullopt, passwdHome() + "/.config"},
    };
    for (const TCase &c : cases) {
        const ScopedEnv xdg("XDG_CONFIG_HOME", c.Xdg);
        const ScopedEnv home("HOME", c.Home);
        EXPECT_EQ(paths::UserConfigDir(), c.Expected)
            << "XDG_CONFIG_HOME=" << c.Xdg.value_or("<unset>")
            << " HOME=" << c.Home.value_or("<unset>");
    }
}

TEST(IsSystemLocation, UsrAndOptAndWhatLiesBelow)
{
    for (const char *dir : {"/usr/bin", "/usr/local/bin", "/usr", "/opt", "/opt/kestrune/bin",
                            "/usr/lib/../bin", "/usr/bin/"})
        EXPECT_TRUE(paths::IsSystemLocation(dir)) << dir;
    for (const char *dir : {"/home/ann/kestrune/build", "/tmp/build", "/usrlocal/bin", "/optional",
                            "/srv/usr/bin", "/"})
        EXPECT_FALSE(paths::IsSystemLocation(dir)) << dir;
}

TEST_F(SettingsLocation, InstalledProgramUsesTheUserConfigFolderEvenForRoot)
{
    // Root may write to /usr/bin; the settings still go to the user's folder.
    const ScopedEnv xdg("XDG_CONFIG_HOME", Path("config"));
    for (const char *program :
         {"/usr/bin/kestrune", "/usr/local/bin/kestrune", "/opt/kestrune/bin/kestrune"}) {
        paths::SetExecutablePathOverride(program);
        EXPECT_EQ(paths::SettingsFilePath(), Path("config/kestrune/kestrune.ini")) << program;
        EXPECT_EQ(paths::LoginFilePath(), Path("config/kestrune/Login.txt")) << program;
        EXPECT_TRUE(std::filesystem::is_directory(Path("config/kestrune"))) << "created";
    }
}

TEST_F(SettingsLocation, ProgramInABuildFolderKeepsItsFileBesideItself)
{
    const ScopedEnv xdg("XDG_CONFIG_HOME", Path("config"));
    paths::SetExecutablePathOverride(Path("build/kestrune"));
    std::filesystem::create_directories(Path("build"));
    EXPECT_EQ(paths::SettingsFilePath(), Path("build/kestrune.ini"));
    EXPECT_EQ(paths::LoginFilePath(), Path("build/Login.txt"));
    EXPECT_FALSE(std::filesystem::exists(Path("config"))) << "nothing made in the config home";
}

TEST_F(SettingsLocation, UnwritableProgramFolderFallsBackToTheUserConfigFolder)
{
    // A folder that cannot be written even by root: one below a regular file.
    const ScopedEnv xdg("XDG_CONFIG_HOME", Path("config"));
    std::filesystem::create_directories(Path("build"));
    {
        std::FILE *f = std::fopen(Path("build/file").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    paths::SetExecutablePathOverride(Path("build/file/bin/kestrune"));
    EXPECT_EQ(paths::SettingsFilePath(), Path("config/kestrune/kestrune.ini"));
}

TEST_F(SettingsLocation, DataDirOverrideWinsOverBoth)
{
    paths::SetExecutablePathOverride("/usr/bin/kestrune");
    paths::SetDataDirOverride(Path("own"));
    EXPECT_EQ(paths::SettingsFilePath(), Path("own") + "/kestrune.ini");
    paths::SetDataDirOverride({});
}
