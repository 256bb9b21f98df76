#include "crash/CrashHandler.h"

#include "base/Command.h"
#include "base/ProgramFiles.h"
#include "crash/CrashProtocol.h"
#include "crash/ExceptionCodes.h"
#include "crash/ReportLines.h"
#include "crash/SafeText.h"
#include "log/DiagnosticLog.h"
#include "platform/LastError.h"
#include "platform/LocalTime.h"
#include "platform/Process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <ctime>
#include <exception>

extern char** environ;

namespace crash {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT};
constexpr std::size_t kAltStackSize = 128 * 1024;
constexpr int kHelperFd = 3;

struct RecoveryPoint {
    sigjmp_buf env;
    RecoveryPoint* outer;
    bool foreign; // a foreign call: its caller unwinds the command by an exception
};

// Whether a fault now can be ignored: a command runs to end. A foreign
// call's point alone is not enough, since the exception its caller throws
// needs a command to end in.
bool CanIgnoreHere(const RecoveryPoint* point)
{
    for (; point != nullptr; point = point->outer)
        if (!point->foreign)
            return true;
    return false;
}

// Read inside the signal handler: plain values, initial-exec TLS.
#define CRASH_TLS thread_local __attribute__((tls_model("initial-exec")))
CRASH_TLS RecoveryPoint* currentPoint = nullptr;
CRASH_TLS bool threadPrepared = false;

// Frees a thread's alternate stack when the thread ends.
struct AltStack {
    void* memory = nullptr;
    ~AltStack()
    {
        if (memory == nullptr)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(memory, kAltStackSize);
    }
};
thread_local AltStack altStack;

std::atomic<CrashLineWriter> lineWriter{&WriteLogLine};
std::atomic<unsigned> optionWord{kAllOptions};
std::atomic<int> nesting{0};
std::atomic<void (*)()> abortHook{nullptr};
char logPath[4096] = {};
int serverFd = -1;
pid_t helperPid = -1;
bool showWindow = true;
bool installed = false;
struct sigaction previousActions[sizeof kSignals / sizeof kSignals[0]];
std::terminate_handler previousTerminate = nullptr;

void WriteLine(const char* text, std::size_t length) { lineWriter.load()(text, length); }

// A fixed line, a string literal: the compiler counts its length. Consteval,
// so that a character buffer cannot pass for one with its whole size.
struct FixedLine {
    template <std::size_t N>
    consteval FixedLine(const char (&literal)[N]) : text(literal), length(N - 1)
    {
    }
    const char* text;
    std::size_t length;
};

void WriteLine(FixedLine line) { WriteLine(line.text, line.length); }

template <std::size_t N>
void WriteLine(const SafeText<N>& text)
{
    WriteLine(text.c_str(), text.size());
}

void SinkToLog(void*, const char* text, std::size_t length) { WriteLine(text, length); }

[[noreturn]] void EndProcess()
{
    WriteLine("VCL.ExceptionFilter ABORT");
    if (auto hook = abortHook.load())
        hook();
    _exit(0);
}

// Lets the signal do what it does without the reporter: end the process.
[[noreturn]] void DieBySignal(int signal)
{
    struct sigaction deflt{};
    deflt.sa_handler = SIG_DFL;
    sigemptyset(&deflt.sa_mask);
    sigaction(signal, &deflt, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal); // not reached for the fault signals
}

void FillState(const ucontext_t* uc, MachineState& state)
{
    const greg_t* g = uc->uc_mcontext.gregs;
    uint64_t* r = state.registers;
#if defined(__x86_64__)
    r[kAx] = g[REG_RAX], r[kBx] = g[REG_RBX], r[kCx] = g[REG_RCX], r[kDx] = g[REG_RDX];
    r[kSi] = g[REG_RSI], r[kDi] = g[REG_RDI], r[kBp] = g[REG_RBP], r[kSp] = g[REG_RSP];
    r[kR8] = g[REG_R8], r[kR9] = g[REG_R9], r[kR10] = g[REG_R10], r[kR11] = g[REG_R11];
    r[kR12] = g[REG_R12], r[kR13] = g[REG_R13], r[kR14] = g[REG_R14], r[kR15] = g[REG_R15];
    r[kIp] = g[REG_RIP], r[kFlags] = g[REG_EFL];
    r[kErrorCode] = g[REG_ERR], r[kTrapNumber] = g[REG_TRAPNO];
    // CS, GS, FS and (with UC_SIGCONTEXT_SS) SS share one word, 16 bits each.
    const uint64_t segments = static_cast<uint64_t>(g[REG_CSGSFS]);
    r[kCs] = segments & 0xFFFF, r[kGs] = (segments >> 16) & 0xFFFF, r[kFs] = (segments >> 32) & 0xFFFF;
    r[kSs] = (segments >> 48) & 0xFFFF;
    state.groups = kIntegerGroup | kSegmentGroup;
    if (uc->uc_mcontext.fpregs != nullptr) {
        const auto* f = uc->uc_mcontext.fpregs;
        state.floating.control = f->cwd, state.floating.status = f->swd, state.floating.tag = f->ftw;
        state.floating.opcode = f->fop, state.floating.instruction = f->rip, state.floating.data = f->rdp;
        state.floating.mxcsr = f->mxcsr;
        state.groups |= kFloatGroup;
    }
#elif defined(__i386__)
    r[kAx] = g[REG_EAX], r[kBx] = g[REG_EBX], r[kCx] = g[REG_ECX], r[kDx] = g[REG_EDX];
    r[kSi] = g[REG_ESI], r[kDi] = g[REG_EDI], r[kBp] = g[REG_EBP], r[kSp] = g[REG_ESP];
    r[kIp] = g[REG_EIP], r[kFlags] = g[REG_EFL];
    r[kCs] = g[REG_CS], r[kSs] = g[REG_SS], r[kDs] = g[REG_DS], r[kEs] = g[REG_ES];
    r[kFs] = g[REG_FS], r[kGs] = g[REG_GS];
    r[kErrorCode] = g[REG_ERR], r[kTrapNumber] = g[REG_TRAPNO];
    state.groups = kIntegerGroup | kSegmentGroup;
    if (uc->uc_mcontext.fpregs != nullptr) {
        const auto* f = uc->uc_mcontext.fpregs;
        state.floating.control = f->cw, state.floating.status = f->sw, state.floating.tag = f->tag;
        state.floating.instruction = f->ipoff, state.floating.instructionSelector = f->cssel;
        state.floating.data = f->dataoff, state.floating.dataSelector = f->datasel;
        state.floating.mxcsr = f->status;
        state.groups |= kFloatGroup;
    }
#else
#error "the crash reporter knows the registers of x86-64 and i686 only"
#endif
}

// A fault just below the stack pointer, or above it within the frame being
// set up, is the stack running into its guard gap: nothing else is unmapped
// there.
bool IsStackOverflow(uint64_t address, uint64_t sp)
{
    constexpr uint64_t kBelow = 256, kAbove = 64 * 1024;
    return address + kBelow >= sp && address < sp + kAbove;
}

enum class Outcome { NoHelper, HelperLost, Answered };

// Sends the request with a fresh answer socket, writes the lines the helper
// sends back and returns its answer.
Outcome AskHelper(const CrashRequest& request, CrashAnswer& answer)
{
    if (serverFd < 0)
        return Outcome::NoHelper;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return Outcome::NoHelper;
    iovec part{const_cast<CrashRequest*>(&request), sizeof request};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &pair[1], sizeof(int));
    ssize_t sent;
    do
        sent = sendmsg(serverFd, &message, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    close(pair[1]);
    if (sent != static_cast<ssize_t>(sizeof request)) {
        close(pair[0]);
        return Outcome::NoHelper;
    }
    char buffer[kMaxMessage + 1];
    while (true) {
        ssize_t got = recv(pair[0], buffer, kMaxMessage, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            close(pair[0]);
            return Outcome::HelperLost;
        }
        if (buffer[0] == kLineMessage) {
            WriteLine(buffer + 1, static_cast<std::size_t>(got - 1));
        } else if (buffer[0] == kAnswerMessage && got >= 2) {
            answer = static_cast<CrashAnswer>(buffer[1]);
            close(pair[0]);
            return Outcome::Answered;
        }
    }
}

// The report of one fault; returns only to leave it unhandled.
void Report(CrashRequest& request, const sigset_t* maskToRestore)
{
    char name[96];
    FormatExceptionName(request.code, name, sizeof name);
    SafeText<256> line;
    line.Text("Exception! Type: ").Text(name).Text(". Calling handler...");
    WriteLine(line);
    if (request.message[0] != '\0') {
        line.Clear();
        line.Text("Exception message: ").Text(request.message);
        WriteLine(line);
    }
    const unsigned options = optionWord.load();
    // Every fault that reaches here (a fault signal or the runtime's terminate)
    // has logged its name above; the report itself only while it is enabled.
    if (!(options & vclxEnabled))
        return;

    const int depth = ++nesting;
    if (depth > 2)
        EndProcess();
    line.Clear();
    line.Text("VCL.ExceptionFilter[").Dec(depth).Text("] ").Hex(request.code, 8).Text(" at ")
        .Address(request.state.registers[kIp]).Char(':').Address(request.state.registers[kBp]);
    WriteLine(line);

    request.depth = depth;
    request.options = depth >= 2 ? kAllOptions : options;
    request.canIgnore = request.canIgnore && depth == 1 && CanIgnoreHere(currentPoint);
    request.showWindow = showWindow;
    CrashAnswer answer = CrashAnswer::LeaveUnhandled;
    Outcome outcome = AskHelper(request, answer);
    if (outcome == Outcome::NoHelper) {
        // Without the helper: what the request alone tells, then the end.
        WriteLine("VCL.Write to log file");
        if (request.options & vclxDumpToFile)
            WriteExceptionLines(request, &SinkToLog, nullptr);
        answer = depth >= 2 ? CrashAnswer::Abort : CrashAnswer::LeaveUnhandled;
    } else if (outcome == Outcome::HelperLost) {
        answer = depth >= 2 ? CrashAnswer::Abort : CrashAnswer::LeaveUnhandled;
    }

    switch (answer) {
    case CrashAnswer::End:
        WriteLine("Programm terminated in cause of exception");
        EndProcess();
    case CrashAnswer::Abort:
        EndProcess();
    case CrashAnswer::Ignore:
        if (request.canIgnore && CanIgnoreHere(currentPoint)) {
            WriteLine("VCL.ExceptionFilter FINALLY");
            WriteLine("VCL.ExceptionFilter returns IGNORE");
            --nesting;
            if (maskToRestore != nullptr)
                pthread_sigmask(SIG_SETMASK, maskToRestore, nullptr);
            siglongjmp(currentPoint->env, 1);
        }
        [[fallthrough]];
    case CrashAnswer::LeaveUnhandled:
        break;
    }
    WriteLine("VCL.ExceptionFilter FINALLY");
    WriteLine("VCL.ExceptionFilter returns LEAVE UNHANDLED");
    --nesting;
}

void OnSignal(int signal, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    auto* uc = static_cast<ucontext_t*>(context);
    CrashRequest request;
    request.pid = getpid();
    request.tid = static_cast<int32_t>(syscall(SYS_gettid));
    request.signal = signal;
    request.signalCode = info->si_code;
    FillState(uc, request.state);
    const uint64_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    const bool overflow = signal == SIGSEGV && IsStackOverflow(address, request.state.registers[kSp]);
    request.code = CodeForSignal(signal, info->si_code, overflow);
    if (signal == SIGSEGV && !overflow) {
        request.access = static_cast<int>(
            AccessFromPageFault(request.state.registers[kTrapNumber], request.state.registers[kErrorCode]));
        request.faultAddress = address;
    }
    // abort() cannot be resumed: the runtime meant the process to end.
    request.canIgnore = signal != SIGABRT;
    Report(request, &uc->uc_sigmask);
    errno = savedErrno;
    DieBySignal(signal);
}

void OnTerminate()
{
    CrashRequest request;
    request.pid = getpid();
    request.tid = static_cast<int32_t>(syscall(SYS_gettid));
    ucontext_t uc;
    getcontext(&uc);
    FillState(&uc, request.state);
    request.code = kCxxTerminate;
    if (std::exception_ptr current = std::current_exception()) {
        request.code = kCxxUnhandled;
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& error) {
            std::strncpy(request.message, error.what(), sizeof request.message - 1);
        } catch (...) {
        }
    }
    request.canIgnore = 0;
    Report(request, nullptr);
    // Left unhandled: the runtime's own end, without reporting its abort.
    struct sigaction deflt{};
    deflt.sa_handler = SIG_DFL;
    sigaction(SIGABRT, &deflt, nullptr);
    std::abort();
}

void InstallThreadStack()
{
    if (threadPrepared)
        return;
    threadPrepared = true;
    void* memory = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAltStackSize;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(memory, kAltStackSize);
        return;
    }
    altStack.memory = memory;
}

bool StartHelper(const std::string& path)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto a different number clears close-on-exec; the same number
    // would keep it, so move the socket away from 3 first.
    int childEnd = pair[1];
    if (childEnd == kHelperFd) {
        childEnd = fcntl(pair[1], F_DUPFD_CLOEXEC, kHelperFd + 1);
        close(pair[1]);
    }
    posix_spawn_file_actions_adddup2(&actions, childEnd, kHelperFd);
    std::string fdText = std::to_string(kHelperFd);
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("--crash-helper"), fdText.data(), nullptr};
    pid_t pid = -1;
    int error = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(childEnd);
    if (error != 0) {
        close(pair[0]);
        return false;
    }
    serverFd = pair[0];
    helperPid = pid;
    // The helper reads this process's memory; a restricted ptrace scope
    // allows that only to a process named here.
    prctl(PR_SET_PTRACER, static_cast<unsigned long>(pid), 0, 0, 0);
    return true;
}

} // namespace

void WriteLogLine(const char* text, std::size_t length)
{
    // The diagnostic writer's own urgent path: its lock is waited for only
    // briefly, since the faulting thread may hold it.
    WriteLogFileUrgent(logPath, text, length);
}

void SetLogFile(const std::string& path)
{
    std::size_t length = path.size() < sizeof logPath - 1 ? path.size() : 0;
    std::memcpy(logPath, path.data(), length);
    logPath[length] = '\0';
}

bool Install(const InstallOptions& options)
{
    if (installed)
        return serverFd >= 0;
    SetLogFile(options.logFile.empty() ? CurrentLogFilePath() : options.logFile);
    SetLineWriter(options.lineWriter);
    showWindow = options.showWindow;
    platform::LocalTimeNow(); // the urgent writer's time uses the offset seen here

    std::string helper = options.helperPath.empty() ? OwnFilePath("ulmora-crash", OwnFileKind::Library) : options.helperPath;
    bool started = StartHelper(helper);

    InstallThreadStack();
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        struct sigaction action{};
        action.sa_sigaction = &OnSignal;
        // SA_NODEFER: a fault inside the report comes back to the handler
        // as the second nesting level instead of killing the process.
        action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(kSignals[i], &action, &previousActions[i]);
    }
    previousTerminate = std::set_terminate(&OnTerminate);
    installed = true;
    return started;
}

void Uninstall()
{
    if (!installed)
        return;
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        sigaction(kSignals[i], &previousActions[i], nullptr);
    std::set_terminate(previousTerminate);
    if (serverFd >= 0) {
        close(serverFd); // the helper ends when it sees the socket closed
        serverFd = -1;
        waitpid(helperPid, nullptr, 0);
        helperPid = -1;
    }
    installed = false;
}

CrashLineWriter SetLineWriter(CrashLineWriter writer)
{
    return lineWriter.exchange(writer != nullptr ? writer : &WriteLogLine);
}

void SetAbortHook(void (*hook)()) { abortHook.store(hook); }

unsigned Options() { return optionWord.load(); }
void SetOptions(unsigned word) { optionWord.store(word); }
int NestingDepth() { return nesting.load(); }

void PrepareThread() { InstallThreadStack(); }

namespace {

// The jump comes back with the frames between dropped as they were: sound for
// foreign frames, which hold nothing of the program's; a command's own frames
// dropped this way are the price of a fault in the program itself.
bool RunAtPoint(void (*body)(void* context), void* context, bool foreign)
{
    InstallThreadStack();
    RecoveryPoint point;
    point.outer = currentPoint;
    point.foreign = foreign;
    // The signal mask is restored by the handler from the fault's context,
    // so the jump buffer need not save it (one syscall less per command).
    if (sigsetjmp(point.env, 0) != 0) {
        currentPoint = point.outer;
        return false;
    }
    currentPoint = &point;
    try {
        body(context);
    } catch (const CommandAbandoned&) {
        // A foreign call inside faulted; the frames up to here are unwound.
        currentPoint = point.outer;
        if (foreign)
            throw;
        return false;
    } catch (...) {
        currentPoint = point.outer;
        throw;
    }
    currentPoint = point.outer;
    return true;
}

} // namespace

bool RunCommand(void (*command)(void* context), void* context) { return RunAtPoint(command, context, false); }

bool RunForeign(void (*call)(void* context), void* context) { return RunAtPoint(call, context, true); }

void GuardCommands()
{
    SetCommandGuard(&RunCommand);
    SetForeignCallGuard(&RunForeign);
}

} // namespace crash
