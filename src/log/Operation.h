#pragma once
// Progress of a long operation (scan, export, deletion) that runs item by item
// on the GUI thread, and the throttle of its progress texts.
//
// Every long operation follows one order: SetAbortable(true) before the first
// item; per item, when the shared PRPeriod elapses, SetText with the progress
// text (and, where the operation can stop, IsAborted); SetText(nullptr) on
// every way out.

#include <cstdint>
#include <string>

class Operation {
public:
    virtual ~Operation() = default;

    // Shows a printf-formatted text of one or more lines ("\n"). A null format
    // ends the operation: the progress display goes away.
    void SetText(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Shows or hides the Abort button and forgets a pending abort.
    void SetAbortable(bool abortable);
    // Whether Abort was pressed since the last call; a press is reported once.
    bool IsAborted();

protected:
    virtual void ShowText(const std::string& text) = 0;
    virtual void End() = 0;
    virtual void ApplyAbortable(bool abortable) = 0;
    virtual bool TakeAborted() = 0;
};

// Progress that shows nothing and is never aborted: a benchmark, a program
// without a window or terminal.
class QuietOperation final : public Operation {
protected:
    void ShowText(const std::string&) override {}
    void End() override {}
    void ApplyAbortable(bool) override {}
    bool TakeAborted() override { return false; }
};

// Ends a long operation (SetText with no text) when the scope is left, on
// every way out: a return, an exception, a command abandoned after a fault.
class OperationEnd {
public:
    explicit OperationEnd(Operation& operation) : operation_(&operation) {}
    ~OperationEnd() { Now(); }
    OperationEnd(const OperationEnd&) = delete;
    OperationEnd& operator=(const OperationEnd&) = delete;

    // Ends it here already; the scope's end then does nothing.
    void Now()
    {
        if (Operation* operation = operation_) {
            operation_ = nullptr;
            operation->SetText(nullptr);
        }
    }

private:
    Operation* operation_;
};

// Says when a period has passed since its last true answer.
class PRPeriod {
public:
    using Clock = uint32_t (*)();
    static constexpr uint32_t kMagic = 0x00526550; // 'P','e','R',0

    explicit PRPeriod(uint32_t periodMs, Clock clock = nullptr);
    ~PRPeriod() { magic_ = 0; }

    // True when at least the period has passed since creation or the last
    // true answer; the clock's 32-bit wrap-around is harmless.
    bool Elapsed();
    uint32_t LastElapsed() const { return lastElapsed_; }

private:
    uint32_t magic_;
    Clock clock_;
    uint32_t start_;
    uint32_t lastCheck_;
    uint32_t period_;
    uint32_t lastElapsed_ = 0;
};
