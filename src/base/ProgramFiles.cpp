#include "base/ProgramFiles.h"

#include "base/BuildInfo.h"
#include "base/Dictionary.h"
#include "base/Paths.h"
#include "platform/FileInfo.h"
#include "platform/Process.h"

#include <filesystem>

namespace {

constexpr const char* kUserFolderName = "ulmora/";

// "/usr/bin/../lib/ulmora/x" as "/usr/lib/ulmora/x": the program folder
// comes from the kernel with its links resolved, so the text fold is exact.
std::string Normal(const std::string& path)
{
    return std::filesystem::path(path).lexically_normal().string();
}

std::string InstalledFolder(OwnFileKind kind)
{
    return Normal(ProgramFolder() + (kind == OwnFileKind::Library ? kInstalledLibraryFolder : kInstalledDataFolder));
}

} // namespace

std::string OwnFilePath(std::string_view name, OwnFileKind kind)
{
    const std::string beside = JoinToProgramFolder(name);
    if (platform::PathExists(beside))
        return beside;
    const std::string installed = InstalledFolder(kind) + std::string(name);
    return platform::PathExists(installed) ? installed : beside;
}

bool InstalledLayout()
{
    return !platform::PathExists(JoinToProgramFolder(kDictionaryFileName)) &&
           platform::PathExists(InstalledFolder(OwnFileKind::Data) + kDictionaryFileName);
}

bool PortableLayout() { return !InstalledLayout() && platform::IsWritableFolder(ProgramFolder()); }

std::string UserFolder(UserFolderKind kind)
{
    const bool config = kind == UserFolderKind::Config;
    std::string base;
    if (auto value = platform::EnvironmentVariable(config ? "XDG_CONFIG_HOME" : "XDG_STATE_HOME");
        value && IsAbsolutePath(*value))
        base = *value;
    else
        base = platform::HomeFolder() + (config ? "/.config" : "/.local/state");
    if (!base.empty() && base.back() != '/')
        base += '/';
    return base + kUserFolderName;
}

std::string SettingsFolder(UserFolderKind kind) { return PortableLayout() ? ProgramFolder() : UserFolder(kind); }
