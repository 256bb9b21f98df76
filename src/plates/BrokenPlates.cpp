#include "plates/BrokenPlates.h"

#include "base/ListSelection.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "browse/PlateList.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "log/Log.h"
#include "log/Operation.h"
#include "plates/Preview.h"
#include "plugins/Plugin.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace {

struct Job {
    int index;
    std::vector<uint8_t> data;
};

// Blocks read on the caller's thread wait here for a decoding thread; the
// queue is bounded so that a fast plugin does not fill the memory.
class JobQueue {
public:
    explicit JobQueue(std::size_t limit) : limit_(limit) {}

    void Push(Job job)
    {
        std::unique_lock lock(mutex_);
        notFull_.wait(lock, [&] { return jobs_.size() < limit_; });
        jobs_.push_back(std::move(job));
        notEmpty_.notify_one();
    }
    bool Pop(Job* job)
    {
        std::unique_lock lock(mutex_);
        notEmpty_.wait(lock, [&] { return !jobs_.empty() || closed_; });
        if (jobs_.empty())
            return false;
        *job = std::move(jobs_.front());
        jobs_.pop_front();
        notFull_.notify_one();
        return true;
    }
    void Close()
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        notEmpty_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable notEmpty_;
    std::condition_variable notFull_;
    std::deque<Job> jobs_;
    std::size_t limit_;
    bool closed_ = false;
};

// Whether a decoded picture has the tile side; the fault when not.
bool WrongSize(int width, int height, int side, BrokenPlate* broken)
{
    if (width == side && height == side)
        return false;
    broken->fault = PlateFault::WrongSize;
    broken->width = width;
    broken->height = height;
    broken->expected = side;
    return true;
}

// Decodes one block; true when it cannot be decoded, else its size is left in
// `broken` to be judged against the storage's tile size. The decoder's own
// fast judgement answers for clean pictures; the rest (and every verdict of a
// broken picture) come from the preview's reader.
bool DecodeFails(const ImageLibrary& decoder, const void* data, size_t size, BrokenPlate* broken)
{
    int32_t nativeWidth = 0;
    int32_t nativeHeight = 0;
    if (decoder.DecodeToJudge != nullptr && decoder.DecodeToJudge(data, size, &nativeWidth, &nativeHeight)) {
        broken->width = nativeWidth;
        broken->height = nativeHeight;
        return false;
    }
    MemorySource source{static_cast<const uint8_t*>(data), static_cast<uint32_t>(size), 0};
    ImageLoadParams params;
    decoder.GetDefaultLoadParams(&params);
    params.Flags |= kLoadNoAlpha;
    params.Read = &MemorySourceRead;
    params.Tell = &MemorySourceTell;
    params.Seek = &MemorySourceSeek;
    ImageBitmap* bitmap = nullptr;
    ImageFileInformation information;
    const int16_t code = decoder.LoadBitmapFromHandle(&source, &bitmap, &params, &information);
    if (code != 0 || bitmap == nullptr) {
        broken->fault = PlateFault::Undecodable;
        broken->detail = decoder.GetErrorString != nullptr ? decoder.GetErrorString(code) : "";
        return true;
    }
    broken->width = bitmap->Width;
    broken->height = bitmap->Height;
    decoder.FreeBitmap(bitmap);
    if (decoder.FreeFileInformation != nullptr)
        decoder.FreeFileInformation(&information);
    return false;
}

bool Judge(const ImageLibrary& decoder, Job& job, BrokenPlate* broken)
{
    broken->index = job.index;
    return DecodeFails(decoder, job.data.data(), job.data.size(), broken);
}

// The plates of each decoded size, by list index.
using SizeKey = std::pair<int, int>;
using PlatesBySize = std::map<SizeKey, std::vector<int>>;

// The storage's tile side: the side of its most common square size (the
// larger count wins, then 256, then the smaller side); 256 without squares.
int CommonSide(const PlatesBySize& sizes)
{
    int side = kPlateSide;
    std::size_t most = 0;
    for (const auto& [size, plates] : sizes) {
        if (size.first != size.second)
            continue;
        if (plates.size() > most || (plates.size() == most && size.first == kPlateSide)) {
            most = plates.size();
            side = size.first;
        }
    }
    return side;
}

} // namespace

bool JudgePlate(const ImageLibrary& decoder, const void* data, size_t size, BrokenPlate* broken)
{
    return DecodeFails(decoder, data, size, broken) || WrongSize(broken->width, broken->height, kPlateSide, broken);
}

std::string DescribeFault(const BrokenPlate& plate)
{
    switch (plate.fault) {
    case PlateFault::Empty: return "empty";
    case PlateFault::Unreadable: return "cannot be read: " + plate.detail;
    case PlateFault::Undecodable: return "cannot be decoded: " + plate.detail;
    case PlateFault::WrongSize:
        return Format("not %d x %d: %d x %d", plate.expected, plate.expected, plate.width, plate.height);
    }
    return {};
}

BrokenCheckResult FindBrokenPlates(const BrokenCheck& check)
{
    BrokenCheckResult result;
    result.selected = check.selection.SelectedCount();
    if (!check.decoder.Loaded()) {
        result.noDecoder = true;
        return result;
    }
    Log(Translate("Check %d plates for broken ones..."), result.selected);
    check.operation.SetAbortable(true);
    OperationEnd end(check.operation);

    int threads = check.threads > 0 ? check.threads : static_cast<int>(std::thread::hardware_concurrency());
    threads = std::max(threads, 1);
    JobQueue queue(static_cast<std::size_t>(threads) * 32);
    std::atomic<int> judged{0};
    std::mutex brokenMutex;
    std::vector<BrokenPlate> broken;
    PlatesBySize sizes;
    auto addBroken = [&](BrokenPlate plate) {
        std::lock_guard lock(brokenMutex);
        broken.push_back(std::move(plate));
    };
    auto addDecoded = [&](const BrokenPlate& plate) {
        std::lock_guard lock(brokenMutex);
        sizes[{plate.width, plate.height}].push_back(plate.index);
    };

    // However the reading loop is left (an exception or a command abandoned
    // after a fault in the plugin included), the workers are stopped and
    // joined before the queue and the results they use go away.
    struct Workers {
        JobQueue& queue;
        std::vector<std::thread> threads;
        ~Workers() { Join(); }
        void Join()
        {
            queue.Close();
            for (std::thread& worker : threads)
                if (worker.joinable())
                    worker.join();
        }
    } workers{queue, {}};
    workers.threads.reserve(static_cast<std::size_t>(threads));
    for (int t = 0; t < threads; ++t) {
        workers.threads.emplace_back([&] {
            Job job;
            while (queue.Pop(&job)) {
                BrokenPlate plate;
                if (Judge(check.decoder, job, &plate))
                    addBroken(std::move(plate));
                else
                    addDecoded(plate);
                judged.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }

    int read = 0;
    auto showProgress = [&](const PlateItem& item) {
        check.operation.SetText(Translate("Check plates for broken ones...\nDatabase: %s\nItem: %s\nProcessed: %d of %d"),
                                check.action.StoragePath().c_str(), item.name,
                                judged.load(std::memory_order_relaxed), result.selected);
        if (check.pump) {
            LastErrorKeeper keep;
            check.pump();
        }
    };
    for (int index = check.selection.NextSelected(0); index >= 0; index = check.selection.NextSelected(index + 1)) {
        PlateItem item;
        if (!check.plates.At(index, &item))
            break;
        const void* data = nullptr;
        uint32_t size = 0;
        const uint32_t got = check.action.GetPlateData(item.name, &data, &size);
        ++read;
        if (got == Done && data != nullptr && size > 0) {
            const auto* bytes = static_cast<const uint8_t*>(data);
            queue.Push(Job{index, std::vector<uint8_t>(bytes, bytes + size)});
        } else {
            BrokenPlate plate;
            plate.index = index;
            if (got == Done || got == Empty) {
                plate.fault = PlateFault::Empty;
            } else {
                plate.fault = PlateFault::Unreadable;
                plate.detail = ErrorText(kCurrentError);
            }
            addBroken(std::move(plate));
            judged.fetch_add(1, std::memory_order_relaxed);
        }
        if (check.period.Elapsed())
            showProgress(item);
        if (check.operation.IsAborted()) {
            result.aborted = true;
            break;
        }
    }
    workers.Join();

    result.tileSide = CommonSide(sizes);
    for (const auto& [size, plates] : sizes) {
        BrokenPlate plate;
        if (!WrongSize(size.first, size.second, result.tileSide, &plate))
            continue;
        for (int index : plates) {
            plate.index = index;
            broken.push_back(plate);
        }
    }
    std::sort(broken.begin(), broken.end(), [](const BrokenPlate& a, const BrokenPlate& b) { return a.index < b.index; });
    result.checked = read;
    result.broken = std::move(broken);
    end.Now();
    if (result.aborted)
        Log("%s", Translate("Check aborted"));
    Log(Translate("Broken plates found: %d of %d checked"), static_cast<int>(result.broken.size()), result.checked);
    return result;
}
