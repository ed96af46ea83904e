#include "capture/frame_slot.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14
#endif

namespace velmora {
namespace {

std::size_t pageRounded(std::size_t bytes) {
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

// A slot's own mapping, not the heap's: unmapping it gives the pages back at
// once, where freed heap blocks can stay with the process.
std::size_t withRoom(std::size_t bytes) { return pageRounded(bytes + bytes / 8); }

// What a slot may keep beyond its room before it gives memory back: a window
// dragged to and fro does not remap at every size, and fifty slots keep at
// most 100 MB more than they need.
constexpr std::size_t kSlack = std::size_t{2} << 20;

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;

// The first write to a fresh slot takes a page fault for every page, and the
// kernel clears each page before handing it over.  Done by the captures, that
// fell on the UI thread: on a virtual machine the first fifty captures of a
// 1080p ring took 16 ms each instead of 0.4, 0.8 s of the UI thread's time in
// the first 2.5 s of playback.  A thread of its own, at the lowest priority,
// maps the pages of new slots in ahead of the captures: once the captures
// into them have begun (a paused video's ring takes no memory before it
// plays) and the slots have kept their size for a while (not while a window is
// dragged through sizes).  It asks the kernel to map them
// (MADV_POPULATE_WRITE) rather than writing to them, so a capture that reaches
// a page first loses nothing.
class Prefaulter {
public:
    static Prefaulter& instance() {
        // Never destroyed: slots that outlive static destruction may still
        // forget their pages.
        static Prefaulter* const p = new Prefaulter;
        return *p;
    }

    // Queues the pages of a new mapping.  Failing (no thread, no memory for
    // the queue) only leaves them to the captures.
    void add(void* start, std::size_t bytes) noexcept {
        try {
            const std::lock_guard lock(mutex_);
            if (unsupported_) return;
            if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
            // The newest first: the ring's slots are made from the first to
            // the last and written from the last to the first.
            auto* const first = static_cast<char*>(start);
            queue_.push_front({first, first, first + bytes});
            settledAt_ = Clock::now() + kSettle;
            armed_ = false;
        } catch (...) {
        }
    }

    // The captures into new slots have begun.
    void arm() {
        const std::lock_guard lock(mutex_);
        if (armed_ || queue_.empty()) return;
        armed_ = true;
        wake_.notify_one();
    }

    // Before [start, start + bytes) is unmapped: no part of it is mapped in
    // or read after this returns.
    void forget(void* start, std::size_t bytes) {
        auto* const begin = static_cast<char*>(start);
        auto* const end = begin + bytes;
        std::unique_lock lock(mutex_);
        std::erase_if(queue_, [&](const Range& r) { return r.start < end && begin < r.end; });
        // The chunk under way, if it is in the range: a few milliseconds.
        done_.wait(lock, [&] { return !(busy_.next < busy_.end && busy_.next < end && begin < busy_.end); });
        std::erase_if(populated_, [&](const Populated& p) { return p.start >= begin && p.start < end; });
    }

    // Bytes of the mapping at `start` mapped in so far.
    std::size_t populated(const void* start) {
        const std::lock_guard lock(mutex_);
        for (const Populated& p : populated_)
            if (p.start == start) return p.bytes;
        return 0;
    }

    // Whether pages are queued or being mapped in (for tests and benches).
    bool pending() {
        const std::lock_guard lock(mutex_);
        return !queue_.empty() || busy_.next != busy_.end;
    }

private:
    struct Range {
        char* start = nullptr;  // of the mapping
        char* next = nullptr;   // the first page not yet mapped in
        char* end = nullptr;
    };
    struct Populated {
        const char* start;
        std::size_t bytes;
    };
    using Clock = std::chrono::steady_clock;
    // One 2 MB page: the most a forget() waits for.
    static constexpr std::size_t kChunk = kHugePage;
    static constexpr std::chrono::milliseconds kSettle{500};

    // On a virtual machine whose hypervisor keeps page tables of its own (the
    // paravirtualised guest this was measured on), a page the kernel had
    // mapped still cost a trip to the hypervisor at the program's first access
    // to it: without this, the first capture into a mapped-in 1080p slot took
    // 3 ms instead of 0.4.  One byte read per page,
    // in assembly: a capture may be writing the same page, and what is read
    // is not used.
    static void touch(const char* start, std::size_t bytes) {
#if defined(__x86_64__)
        static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        for (std::size_t i = 0; i < bytes; i += page) asm volatile("movb (%0), %%al" : : "r"(start + i) : "al");
#else
        (void)start;
        (void)bytes;
#endif
    }

    void run() {
        // Nice 19 rather than an idle-only class: a chunk under way when the
        // UI thread forgets its range must end soon, also on busy CPUs.
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
        pthread_setname_np(pthread_self(), "slot pages");
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return armed_ && !queue_.empty(); });
            if (Clock::now() < settledAt_) {
                wake_.wait_until(lock, settledAt_);
                continue;
            }
            Range& r = queue_.front();
            busy_ = {r.start, r.next, r.next + std::min<std::size_t>(kChunk, static_cast<std::size_t>(r.end - r.next))};
            r.next = busy_.end;
            if (r.next == r.end) queue_.pop_front();
            const Range chunk = busy_;
            const auto bytes = static_cast<std::size_t>(chunk.end - chunk.next);
            lock.unlock();
            const bool failed = madvise(chunk.next, bytes, MADV_POPULATE_WRITE) != 0;
            const int error = errno;
            if (!failed) touch(chunk.next, bytes);
            lock.lock();
            busy_ = {};
            done_.notify_all();
            if (!failed) {
                const auto upTo = static_cast<std::size_t>(chunk.end - chunk.start);
                auto p = std::find_if(populated_.begin(), populated_.end(),
                                      [&](const Populated& q) { return q.start == chunk.start; });
                if (p != populated_.end())
                    p->bytes = upTo;
                else
                    populated_.push_back({chunk.start, upTo});
            }
            // An older kernel: the captures fault the pages in as before.
            if (failed && error == EINVAL) {
                unsupported_ = true;
                queue_.clear();
                return;
            }
            // No memory: the rest is left to the captures.
            if (failed) queue_.clear();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<Range> queue_;
    Range busy_;
    std::vector<Populated> populated_;
    Clock::time_point settledAt_;
    bool armed_ = false;
    std::thread thread_;
    bool unsupported_ = false;
};

}  // namespace

void SlotUnmap::operator()(Pixel* pixels) const {
    if (!pixels) return;
    Prefaulter::instance().forget(pixels, bytes);
    munmap(pixels, bytes);
}

bool slotPagesPending() { return Prefaulter::instance().pending(); }

std::size_t FrameSlot::heldBytes() const {
    return pixels ? std::max(resident_, Prefaulter::instance().populated(pixels.get())) : 0;
}

void FrameSlot::resize(int w, int h) {
    w = std::max(w, 0);
    h = std::max(h, 0);
    if (w == width && h == height) return;
    const std::size_t need = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * sizeof(Pixel);
    bool fresh = false;
    if (need == 0) {
        pixels.reset();
        mapped_ = resident_ = 0;
    } else if (need > mapped_ || mapped_ > withRoom(need) + kSlack) {
        const std::size_t size = withRoom(need);
        // The pixels need not be kept: the old pages go back before the new
        // ones are asked for.  (Not mremap: the advice below splits the
        // mapping, and mremap takes one piece only.)
        pixels.reset();
        mapped_ = resident_ = 0;
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        // Slots are megabytes written whole: in 2 MB pages the first capture
        // into each faults 512 times less, which took half the time of that
        // first write in a virtual machine (where a fault is dear), and the
        // copies miss the TLB less.  Only the 2 MB pages that lie wholly
        // within the pixels: one past them would hold memory never written.
        const auto first = (reinterpret_cast<std::uintptr_t>(p) + kHugePage - 1) / kHugePage * kHugePage;
        const auto end = (reinterpret_cast<std::uintptr_t>(p) + need) / kHugePage * kHugePage;
        if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
        pixels = std::unique_ptr<Pixel[], SlotUnmap>(static_cast<Pixel*>(p), SlotUnmap{size});
        mapped_ = size;
        fresh = true;
    }
    width = w;
    height = h;
    // After the size is the slot's: nothing here may fail once the mapping is new.
    if (fresh) Prefaulter::instance().add(pixels.get(), pageRounded(need));
    blank_ = need > 0;
}

void FrameSlot::settle(int coveredWidth, int coveredHeight) {
    if (!blank_) return;
    Prefaulter::instance().arm();
    coveredWidth = std::clamp(coveredWidth, 0, width);
    coveredHeight = std::clamp(coveredHeight, 0, height);
    for (int y = 0; y < height; ++y) {
        const int from = y < coveredHeight ? coveredWidth : 0;
        std::fill(row(y) + from, row(y) + width, kSlotBackground);
    }
    resident_ = std::max(resident_, pageRounded(bytes()));
    blank_ = false;
}

}  // namespace velmora
