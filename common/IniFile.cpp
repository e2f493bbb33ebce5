#include "common/IniFile.h"

#include "common/AtomicFile.h"
#include "common/IntText.h"

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

TIniFile::TIniFile(std::string path)
    : FPath(std::move(path)), FDocument(ReadWholeFile(FPath).value_or(std::string()))
{
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
    const std::string text = FDocument.Text();
    TFileLock lock;
    if (lock.Acquire(FPath + ".lock") != 0 || ReplaceFileAtomically(FPath, text) != 0)
        throw EIniWriteError("Unable to write to " + FPath);
}

} // namespace kestrune
