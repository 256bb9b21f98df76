#include "log/DiagnosticLog.h"

#include "base/Paths.h"
#include "base/Text.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "platform/LocalTime.h"
#include "platform/Files.h"
#include "platform/Thread.h"

#include <atomic>
#include <mutex>

namespace {

std::string DefaultProvider() { return kDefaultLogFileName; }

void OrdinaryLineWriter(platform::WritableFile& file, std::string_view prefix, std::string_view text)
{
    // One write per line, so that the line stays whole also in a file shared
    // with another process appending to it.
    std::string line;
    line.reserve(prefix.size() + text.size() + 3);
    line.append(prefix).append(": ").append(text).push_back('\n');
    file.Append(line.data(), line.size());
}

std::atomic<LogFileProvider> provider{&DefaultProvider};
std::atomic<LogLineWriter> lineWriter{&OrdinaryLineWriter};

// Guards the file, the first-write flag and the line writer's use.
std::mutex& WriterLock()
{
    static std::mutex lock;
    return lock;
}
bool firstWrite = true; // under WriterLock

// Writes `message` as lines: CR and LF end a line (each of them, so CR LF
// gives an extra empty line), and a line that reaches kLogLineRoom bytes is
// written and the next character starts a new one. Rests that are left at
// the end make a last line.
void WriteLines(platform::WritableFile& file, LogLineWriter writer, std::string_view prefix,
                std::string_view message)
{
    std::string_view rest = message;
    while (!rest.empty()) {
        std::size_t end = rest.find_first_of("\r\n");
        std::size_t length = std::min(end, rest.size());
        if (length >= kLogLineRoom) {
            // Split a long run of text without cutting a UTF-8 character
            // apart; no character is lost.
            std::size_t cut = Utf8CutLength(rest, kLogLineRoom);
            if (cut == 0)
                cut = kLogLineRoom;
            writer(file, prefix, rest.substr(0, cut));
            rest.remove_prefix(cut);
            continue;
        }
        writer(file, prefix, rest.substr(0, length));
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
}

} // namespace

std::string LogLinePrefix(int errorCode)
{
    platform::LocalTime now = platform::LocalTimeNow();
    return Format(" %02d-%02d-%4d %02d:%02d:%02d:%04d %6d_%08lX %06d", now.day, now.month, now.year,
                  now.hour, now.minute, now.second, now.millisecond, platform::ProcessId(),
                  platform::CurrentThreadId(), errorCode);
}

int WriteLogFile(const std::string& path, const char* format, va_list args)
{
    LastErrorKeeper keep;
    const int errorCode = CurrentError();
    if (format == nullptr)
        return 0;

    std::lock_guard lock(WriterLock());
    std::unique_ptr<platform::WritableFile> file;
    if (!path.empty() && path != "-") {
        if (firstWrite) {
            file = platform::RealFileSystem().OpenForWriting(path, platform::WriteMode::Truncate);
            if (file)
                file->Append(kLogHeaderLine, std::char_traits<char>::length(kLogHeaderLine));
        } else {
            file = platform::RealFileSystem().OpenForWriting(path, platform::WriteMode::Append);
        }
    }
    // Only the first write of the process may truncate, whether or not it
    // found a file to write.
    firstWrite = false;

    std::string message = FormatV(format, args);
    message.resize(Utf8CutLength(message, kMaxLogMessage));
    if (file) {
        WriteLines(*file, lineWriter.load(), LogLinePrefix(errorCode), message);
        file->Close();
    }
    return static_cast<int>(message.size());
}

int WriteLogFile(const std::string& path, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int count = WriteLogFile(path, format, args);
    va_end(args);
    return count;
}

void DiagnosticLog(const char* format, ...)
{
    if (format == nullptr || *format == '\0')
        return;
    LastErrorKeeper keep;
    std::string path = CurrentLogFilePath();
    va_list args;
    va_start(args, format);
    WriteLogFile(path, format, args);
    va_end(args);
}

LogFileProvider SetLogFileProvider(LogFileProvider newProvider)
{
    return provider.exchange(newProvider);
}

LogLineWriter SetLogLineWriter(LogLineWriter writer)
{
    return lineWriter.exchange(writer != nullptr ? writer : &OrdinaryLineWriter);
}

std::string ResolveLogFileName(std::string_view name)
{
    if (name.empty() || name == "-")
        return std::string(name);
    std::string folder = ProgramFolder();
    std::string path = JoinToFolder(name, folder.empty() ? std::string_view("./") : folder);
    return path.size() > kMaxTextLength ? std::string() : path;
}

std::string CurrentLogFilePath()
{
    LogFileProvider current = provider.load();
    return current != nullptr ? ResolveLogFileName(current()) : std::string();
}
