// Writes the sections of a checked firmware image to the flash devices.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "upgrade/image_format.h"
#include "upgrade/upgrade.h"

namespace {

constexpr long kRootfsSkip = 16;  // section 2 starts with 16 bytes the device does not take

// Writes count bytes straight from the upload buffer; 0, or -1 when the
// device cannot be opened or a write fails (or stops making progress).
int device_write(const unsigned char *data, long count, const char *device) {
    int fd = open(my_path(device), O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) return -1;
    long done = 0;
    while (done < count) {
        ssize_t n = write(fd, data + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            return -1;
        }
        done += n;
    }
    close(fd);
    return 0;
}

}  // namespace

extern "C" int write_to_fs(const unsigned char *body, long length) {
    int reached = -1;
    if (length >= 0) {
        reached = image::walk_sections(body, static_cast<size_t>(length), [](int number, const unsigned char *data,
                                                                              uint32_t size) {
            char device[256];
            std::snprintf(device, sizeof device, "%s%d", "/dev/mtdblock", number);
            // A device that cannot be written gives up its section only.
            if (number == 1) device_write(data, static_cast<long>(size), device);
            if (number == 2) device_write(data + kRootfsSkip, static_cast<long>(size) - kRootfsSkip, device);
        });
    }
    my_system("/tmp/sync > /dev/null 2>&1");
    return reached;
}
