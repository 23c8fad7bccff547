// Attaching the appliance's System V segments and locking their writers.
#include "runtime/shared_segment.h"

#include <pthread.h>
#include <sched.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/platform.h"
#include "runtime/thread_library.h"

namespace runtime {
namespace {

struct Attachment {
    key_t appliance_key;
    key_t key;  // the key the segment was attached with
    void *address;
};

std::vector<Attachment> &attachments() {
    static std::vector<Attachment> list;
    return list;
}

// The appliance's C library has a 24-byte mutex that lives in the area
// itself.  Where the mutex is larger, or is glibc's (whose all-zero mutex
// wakes waiters of its own process only, so a writer waiting on another
// process would sleep for ever), the area's first word is a spin lock
// shared by every process that maps the segment, unlocked when zero.  (The
// C library's own spin lock cannot serve: on some processors its unlocked
// state is not zero, and the area starts all-zero.)
using SpinWord = std::atomic_ref<uint32_t>;
static_assert(SpinWord::required_alignment <= alignof(uint32_t));

#if defined(__GLIBC__) && !defined(__UCLIBC__)
constexpr bool kMutexInArea = false;
#else
constexpr bool kMutexInArea = sizeof(pthread_mutex_t) <= kSegmentLockSize;
#endif

bool lock_area(void *area) {
    if constexpr (kMutexInArea) {
        return call_thread_library("pthread_mutex_lock", static_cast<pthread_mutex_t *>(area));
    } else {
        SpinWord word(*static_cast<uint32_t *>(area));
        uint32_t unlocked = 0;
        while (!word.compare_exchange_weak(unlocked, 1, std::memory_order_acquire)) {
            unlocked = 0;
            sched_yield();
        }
        return true;
    }
}

void unlock_area(void *area) {
    if constexpr (kMutexInArea)
        call_thread_library("pthread_mutex_unlock", static_cast<pthread_mutex_t *>(area));
    else
        SpinWord(*static_cast<uint32_t *>(area)).store(0, std::memory_order_release);
}

}  // namespace

void *attach_segment(key_t appliance_key, std::size_t size) {
    key_t key = platform::ipc_key(appliance_key);
    auto &list = attachments();
    for (const Attachment &a : list)
        if (a.appliance_key == appliance_key && a.key == key) return a.address;

    int id = shmget(key, size, IPC_CREAT | 0777);
    if (id < 0) return nullptr;
    void *address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) return nullptr;

    // A process that moves to another sandbox attaches that sandbox's
    // segment; the earlier one stays mapped, so pointers into it stay valid.
    for (Attachment &a : list) {
        if (a.appliance_key == appliance_key) {
            a.key = key;
            a.address = address;
            return address;
        }
    }
    list.push_back({appliance_key, key, address});
    return address;
}

SegmentLock::SegmentLock(void *segment) : area_(segment), locked_(segment && lock_area(segment)) {}

SegmentLock::~SegmentLock() {
    if (locked_) unlock_area(area_);
}

}  // namespace runtime
