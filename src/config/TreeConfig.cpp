#include "config/TreeConfig.h"

#include "config/ReplaceFile.h"
#include "config/TreeFile.h"
#include "log/Errors.h"
#include "platform/Files.h"

TreeConfig::TreeConfig(platform::FileSystem* files)
    : files_(files != nullptr ? files : &platform::RealFileSystem()),
      root_(std::make_unique<TreeValue>(&blobs_, nullptr, std::string()))
{
}

bool TreeConfig::LoadBytes(std::string_view bytes)
{
    switch (ReadTreeFile(bytes, *root_)) {
    case TreeFileResult::Loaded:
        return true;
    case TreeFileResult::Refused:
        SetLastError(ErrBadMagic);
        return false;
    case TreeFileResult::Damaged:
        break;
    }
    SetLastError(ErrUnexpectedData);
    return false;
}

std::string TreeConfig::SaveBytes() const { return WriteTreeFile(*root_); }

bool TreeConfig::Load(const std::string& path)
{
    std::string bytes;
    if (!files_->ReadFile(files_->FullPath(path), &bytes, kMaxFileSize))
        return false;
    return LoadBytes(bytes);
}

bool TreeConfig::Save(const std::string& path)
{
    return ReplaceFile(*files_, files_->FullPath(path), SaveBytes());
}
