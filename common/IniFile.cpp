#include "common/IniFile.h"

#include "common/AtomicFile.h"
#include "common/IntText.h"

#include <cerrno>

namespace kestrune {

std::optional<std::string> IniLookup(std::string_view content, std::string_view section,
                                     std::string_view key)
{
    return TIniDocument(std::string(content)).Get(section, key);
}

std::string IniUpdate(std::string_view content, std::string_view section, std::string_view key,
                      std::string_view value)
{
    TIniDocument document{std::string(content)};
    document.Set(section, key, value);
    return document.Text();
}

TIniFile::TIniFile(std::string path) : FPath(std::move(path))
{
    std::string text;
    const int error = ReadRegularFile(FPath, text);
    // A missing file, or a missing folder, is a first start: nothing to lose.
    if (error == 0)
        FDocument = TIniDocument(std::move(text));
    else if (error != ENOENT && error != ENOTDIR)
        FReadError = "Unable to read " + FPath + ": " +
                     (error == EINVAL ? std::string("not a regular file") : ErrorText(error)) +
                     ".\r\nThe program starts with default settings and leaves the file as it "
                     "is: changes are not saved to it.";
}

std::optional<std::string> TIniFile::Read(std::string_view section, std::string_view key) const
{
    return FDocument.Get(section, key);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const
{
    auto v = Read(section, key);
    return v ? *v : std::string(def);
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t def) const
{
    const auto v = Read(section, key);
    return v ? StrToIntDef(*v, def) : def;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    FDocument.Set(section, key, value);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value)
{
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::UpdateFile()
{
    // The settings in a file that could not be read would be lost to defaults.
    if (!FReadError.empty())
        return;
    const std::string text = FDocument.Text();
    TFileLock lock;
    if (lock.Acquire(FPath + ".lock") != 0)
        throw EIniWriteError("Unable to write to " + FPath);
    RemoveLeftoverTemporaries(FPath);
    if (ReplaceFileAtomically(FPath, text) != 0)
        throw EIniWriteError("Unable to write to " + FPath);
}

} // namespace kestrune
