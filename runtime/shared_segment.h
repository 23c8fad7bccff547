// System V segments shared by the appliance's programs, and the lock that
// serialises the writers of a segment.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace runtime {

// Segments with writers start with this many bytes holding a process-shared
// lock; all-zero is the unlocked state.
inline constexpr std::size_t kSegmentLockSize = 24;

// The segment of one of the appliance's fixed keys, created zero-filled with
// permissions 0777 on first use and attached once per process.  Null when it
// cannot be attached; the next call tries again.
void *attach_segment(key_t appliance_key, std::size_t size);

// Holds the lock at the start of a segment for the life of the object.  The
// appliance's mutex functions are looked up in the thread library on every
// lock and unlock; when they cannot be found the holder goes on without the
// lock.
class SegmentLock {
public:
    explicit SegmentLock(void *segment);
    ~SegmentLock();
    SegmentLock(const SegmentLock &) = delete;
    SegmentLock &operator=(const SegmentLock &) = delete;

private:
    void *area_;
    bool locked_;
};

}  // namespace runtime
