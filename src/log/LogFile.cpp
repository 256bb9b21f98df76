#include "log/LogFile.h"

#include "log/Log.h"

#include <atomic>

namespace {
std::atomic<const LogFile*> current{nullptr};

std::string CurrentPath()
{
    const LogFile* file = current.load();
    return file != nullptr ? std::string(file->Path()) : std::string();
}
} // namespace

LogFile::LogFile(std::string_view name)
{
    CopyBounded(path_, ResolveLogFileName(name).c_str(), sizeof path_);
    subscription_ = SubscribeLog([this](const std::string& line) { WriteLogFile(path_, "%s", line.c_str()); });
    current.store(this);
    previousProvider_ = SetLogFileProvider(&CurrentPath);
}

LogFile::~LogFile()
{
    UnsubscribeLog(subscription_);
    SetLogFileProvider(previousProvider_);
    const LogFile* self = this;
    current.compare_exchange_strong(self, nullptr);
}
