#include "log/Log.h"

#include "base/Text.h"
#include "log/LastErrorKeeper.h"

#include <algorithm>
#include <cstdarg>
#include <mutex>
#include <utility>
#include <vector>

namespace {

struct Subscriber {
    int id;
    LogListener listener;
    bool details;
};

struct Subscribers {
    std::recursive_mutex lock; // a listener may log
    std::vector<Subscriber> list;
    int nextId = 1;
};

Subscribers& All()
{
    static Subscribers subscribers;
    return subscribers;
}

} // namespace

int SubscribeLog(LogListener listener, bool details)
{
    Subscribers& all = All();
    std::lock_guard lock(all.lock);
    const int id = all.nextId++;
    all.list.push_back({id, std::move(listener), details});
    return id;
}

void UnsubscribeLog(int id)
{
    Subscribers& all = All();
    std::lock_guard lock(all.lock);
    std::erase_if(all.list, [id](const Subscriber& subscriber) { return subscriber.id == id; });
}

namespace {

void Deliver(bool detail, const char* format, va_list args)
{
    Subscribers& all = All();
    std::lock_guard lock(all.lock);
    if (all.list.empty())
        return;
    LastErrorKeeper keep;
    const std::string line = FormatV(format, args);
    // By index: a listener may subscribe or unsubscribe another one.
    for (std::size_t i = 0; i < all.list.size(); ++i) {
        if (detail && !all.list[i].details)
            continue;
        LogListener listener = all.list[i].listener;
        listener(line);
    }
}

} // namespace

void Log(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Deliver(false, format, args);
    va_end(args);
}

void LogDetail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Deliver(true, format, args);
    va_end(args);
}
