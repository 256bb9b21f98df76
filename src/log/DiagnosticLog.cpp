#include "log/DiagnosticLog.h"

#include "base/Paths.h"
#include "base/Text.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "platform/LocalTime.h"
#include "platform/Files.h"
#include "platform/Thread.h"
#include "platform/UrgentFile.h"

#include <cerrno>
#include <atomic>
#include <cstring>
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

// Passes the lines on and remembers whether one of them was lost.
class CheckedFile final : public platform::WritableFile {
public:
    explicit CheckedFile(platform::WritableFile& file) : file_(file) {}
    bool Append(const void* data, std::size_t size) override { return Check(file_.Append(data, size)); }
    bool Sync() override { return Check(file_.Sync()); }
    bool Close() override { return Check(file_.Close()); }
    int error = 0; // the system error of the first failure, 0 when none

private:
    bool Check(bool done)
    {
        if (!done && error == 0)
            error = platform::GetLastError() != 0 ? platform::GetLastError() : EIO;
        return done;
    }
    platform::WritableFile& file_;
};

std::atomic<unsigned> failedMessages{0};
std::atomic<int> lastFailure{0};

void CountFailure(int error)
{
    lastFailure.store(error);
    failedMessages.fetch_add(1);
}

std::atomic<LogFileProvider> provider{&DefaultProvider};
std::atomic<LogLineWriter> lineWriter{&OrdinaryLineWriter};

// Guards the file, the first-write flag and the line writer's use. A spin
// lock rather than a mutex, so that the urgent writer can give up waiting for
// an owner that faulted while holding it.
class WriterLock {
public:
    void lock()
    {
        while (held_.exchange(true, std::memory_order_acquire))
            platform::UrgentSleep(0);
    }
    bool TryLockFor(int milliseconds)
    {
        for (int waited = 0; held_.exchange(true, std::memory_order_acquire); ++waited) {
            if (waited >= milliseconds)
                return false;
            platform::UrgentSleep(1);
        }
        return true;
    }
    void unlock() { held_.store(false, std::memory_order_release); }

private:
    std::atomic<bool> held_{false};
};
WriterLock writerLock;
// Set when an urgent write gave up waiting: the owner is not coming back, so
// later urgent writes of the same report do not wait again.
std::atomic<bool> lockAbandoned{false};
std::atomic<bool> firstWrite{true}; // changed under writerLock

// Digits of `value`, at least `width` of them, padded with `pad`.
char* PutNumber(char* out, unsigned long value, int width, unsigned base, char pad)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[value % base];
        value /= base;
    } while (value != 0 && count < 24);
    for (int i = count; i < width; ++i)
        *out++ = pad;
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

// The prefix of LogLinePrefix, without the C library: at most 64 characters.
std::size_t UrgentPrefix(char* out, int errorCode)
{
    const platform::LocalTime now = platform::LocalTimeNowUrgent();
    char* p = out;
    *p++ = ' ';
    p = PutNumber(p, static_cast<unsigned>(now.day), 2, 10, '0');
    *p++ = '-';
    p = PutNumber(p, static_cast<unsigned>(now.month), 2, 10, '0');
    *p++ = '-';
    p = PutNumber(p, static_cast<unsigned>(now.year), 4, 10, ' ');
    *p++ = ' ';
    p = PutNumber(p, static_cast<unsigned>(now.hour), 2, 10, '0');
    *p++ = ':';
    p = PutNumber(p, static_cast<unsigned>(now.minute), 2, 10, '0');
    *p++ = ':';
    p = PutNumber(p, static_cast<unsigned>(now.second), 2, 10, '0');
    *p++ = ':';
    p = PutNumber(p, static_cast<unsigned>(now.millisecond), 4, 10, '0');
    *p++ = ' ';
    p = PutNumber(p, static_cast<unsigned>(platform::ProcessId()), 6, 10, ' ');
    *p++ = '_';
    p = PutNumber(p, platform::CurrentThreadId(), 8, 16, '0');
    *p++ = ' ';
    p = PutNumber(p, static_cast<unsigned>(errorCode < 0 ? 0 : errorCode), 6, 10, '0');
    return static_cast<std::size_t>(p - out);
}

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

    std::lock_guard lock(writerLock);
    std::unique_ptr<platform::WritableFile> opened;
    const bool wanted = !path.empty() && path != "-";
    if (wanted) {
        opened = platform::RealFileSystem().OpenForWriting(
            path, firstWrite.load() ? platform::WriteMode::Truncate : platform::WriteMode::Append);
        if (!opened)
            CountFailure(platform::GetLastError() != 0 ? platform::GetLastError() : EIO);
    }
    std::unique_ptr<CheckedFile> file;
    if (opened) {
        file = std::make_unique<CheckedFile>(*opened);
        if (firstWrite.load())
            file->Append(kLogHeaderLine, std::char_traits<char>::length(kLogHeaderLine));
    }
    // Only the first write of the process may truncate, whether or not it
    // found a file to write.
    firstWrite.store(false);

    std::string message = FormatV(format, args);
    message.resize(Utf8CutLength(message, kMaxLogMessage));
    if (file) {
        WriteLines(*file, lineWriter.load(), LogLinePrefix(errorCode), message);
        file->Close();
        if (file->error != 0)
            CountFailure(file->error);
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

void WriteLogFileUrgent(const char* path, const char* text, std::size_t length, int lockWaitMs)
{
    if (path == nullptr || *path == '\0' || std::strcmp(path, "-") == 0 || text == nullptr)
        return;
    const int savedErrno = errno;
    const int errorCode = platform::GetLastError();
    const bool locked = writerLock.TryLockFor(lockAbandoned.load() ? 0 : lockWaitMs);
    if (!locked)
        lockAbandoned.store(true);
    const bool truncate = firstWrite.exchange(false);
    const int fd = platform::UrgentOpen(path, truncate);
    if (fd >= 0) {
        if (truncate)
            platform::UrgentWrite(fd, kLogHeaderLine, std::strlen(kLogHeaderLine));
        char line[96 + kLogLineRoom];
        const std::size_t prefix = UrgentPrefix(line, errorCode);
        line[prefix] = ':';
        line[prefix + 1] = ' ';
        // An empty text is one empty line, as in WriteLogFile.
        std::size_t start = 0;
        do {
            std::size_t end = start;
            while (end < length && text[end] != '\r' && text[end] != '\n' && end - start < kLogLineRoom)
                ++end;
            std::memcpy(line + prefix + 2, text + start, end - start);
            line[prefix + 2 + (end - start)] = '\n';
            platform::UrgentWrite(fd, line, prefix + 3 + (end - start));
            start = end < length && (text[end] == '\r' || text[end] == '\n') ? end + 1 : end;
        } while (start < length);
        platform::UrgentClose(fd);
    }
    if (locked)
        writerLock.unlock();
    platform::SetLastError(errorCode);
    errno = savedErrno;
}

LogWriteFailures LogFileWriteFailures() { return {failedMessages.load(), lastFailure.load()}; }

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
    return path.size() > platform::kMaxPathLength ? std::string() : path;
}

std::string CurrentLogFilePath()
{
    LogFileProvider current = provider.load();
    return current != nullptr ? ResolveLogFileName(current()) : std::string();
}
