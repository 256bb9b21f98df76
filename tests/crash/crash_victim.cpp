// A program that faults on purpose, one way per mode, with the crash
// reporter installed: crash_victim HELPER LOG MODE [PLUGIN]. Each test runs
// it as a child process and reads the log it leaves.
#include "crash/CrashHandler.h"
#include "log/DiagnosticLog.h"
#include "plugins/Plugin.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

void Log(const char* text) { crash::WriteLogLine(text, std::strlen(text)); }

// Read through globals, so that the compiler cannot see the faults coming.
int* volatile nullPointer = nullptr;
volatile int zero = 0;

__attribute__((noinline)) void ReadNull() { std::printf("%d\n", *nullPointer); }

void (*volatile nullFunction)() = nullptr;

// Jumps to address 0: no module, no frame information there.
__attribute__((noinline)) void CallNull()
{
    nullFunction();
    std::printf("returned\n");
}

const int kConstant = 7;

__attribute__((noinline)) void WriteReadOnly()
{
    *const_cast<volatile int*>(&kConstant) = 8;
}

__attribute__((noinline)) int Divide() { return 100 / zero; }

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int Recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return Recurse(depth + 1) + frame[0];
}
#pragma GCC diagnostic pop

// Frees a block twice: malloc finds its own data broken and aborts inside
// free().
void* volatile heapBlock = nullptr;

__attribute__((noinline)) void BreakHeap()
{
    heapBlock = std::malloc(0x30);
    std::free(heapBlock);
    std::free(heapBlock);
}

// A line writer of the log that faults while the log's lock is held.
void FaultingLineWriter(platform::WritableFile&, std::string_view, std::string_view) { ReadNull(); }

__attribute__((noinline)) void Throw()
{
    if (zero == 0)
        throw std::runtime_error("plate index out of range");
}

// An exception that would leave a noexcept function ends in std::terminate.
__attribute__((noinline)) void ThrowThroughNoexcept() noexcept { Throw(); }

bool LogShowsWindow(const std::string& log)
{
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str().find("Show exception dialog") != std::string::npos;
}

int PreviewPlate(const char* path)
{
    const PluginHostInfo host = {ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    auto plugin = LoadPlugin(path, &host, PluginTypeStorage);
    if (!plugin)
        return 4;
    StorageAction* action = plugin->CreateAction();
    if (action == nullptr || !action->Open("storage.db"))
        return 5;
    const void* data = nullptr;
    uint32_t size = 0;
    action->GetPlateData("tq", &data, &size);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    const std::string log = argv[2];
    const std::string mode = argv[3];
    crash::InstallOptions options;
    options.helperPath = argv[1];
    options.logFile = log;
    options.showWindow = std::getenv("VICTIM_NO_WINDOW") == nullptr;
    if (!crash::Install(options) && std::getenv("VICTIM_ALLOW_NO_HELPER") == nullptr)
        return 3;
    Log("Victim started");

    if (mode == "null-read") {
        crash::RunCommand([] { ReadNull(); });
    } else if (mode == "call-null") {
        crash::RunCommand([] { CallNull(); });
    } else if (mode == "read-only") {
        crash::RunCommand([] { WriteReadOnly(); });
    } else if (mode == "divide") {
        crash::RunCommand([] { std::printf("%d\n", Divide()); });
    } else if (mode == "recursion") {
        crash::RunCommand([] { std::printf("%d\n", Recurse(0)); });
    } else if (mode == "plugin") {
        int result = 0;
        crash::RunCommand([&] { result = PreviewPlate(argc > 4 ? argv[4] : ""); });
        if (result != 0)
            return result;
    } else if (mode == "heap") {
        crash::RunCommand([] { BreakHeap(); });
    } else if (mode == "log-lock") {
        SetLogFileProvider([] { return std::string("-"); });
        crash::RunCommand([&] {
            SetLogLineWriter(&FaultingLineWriter);
            WriteLogFile(log + ".other", "%s", "line");
        });
    } else if (mode == "ignore") {
        // A command that faults, then the next command: the program goes on.
        const bool first = crash::RunCommand([] { ReadNull(); });
        const bool second = crash::RunCommand([] { Log("Second command ran"); });
        std::printf("first=%d second=%d\n", first, second);
        return first ? 6 : second ? 0 : 7;
    } else if (mode == "worker") {
        std::thread worker([] {
            crash::PrepareThread();
            WriteReadOnly();
        });
        worker.join();
    } else if (mode == "worker-recursion") {
        // A stack overflow on a thread of its own, inside a command there.
        std::thread worker([] {
            const bool ran = crash::RunCommand([] { std::printf("%d\n", Recurse(0)); });
            Log(ran ? "Worker ran to its end" : "Worker went on");
        });
        worker.join();
    } else if (mode == "nested") {
        // A second fault on another thread while the first one's window is open.
        std::thread second([&] {
            for (int i = 0; i < 2000 && !LogShowsWindow(log); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ReadNull();
        });
        second.detach();
        crash::RunCommand([] { Divide(); });
    } else if (mode == "terminate") {
        crash::RunCommand([] { ThrowThroughNoexcept(); });
    } else if (mode == "outside") {
        ReadNull(); // no command runs: nothing to go back to
    } else {
        return 2;
    }
    Log("Victim ended");
    return 0;
}
