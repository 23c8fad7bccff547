// Owners of what the C library hands out: descriptors, directories, streams
// and malloc'ed texts, released when they go out of scope.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace runtime {

class unique_fd {
public:
    explicit unique_fd(int fd) : fd_(fd) {}
    ~unique_fd() {
        if (fd_ >= 0) close(fd_);
    }
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;
    int get() const { return fd_; }
    // Closes now and tells whether the close succeeded: for written files,
    // where a failed close means lost data.
    bool close_checked() {
        int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

private:
    int fd_;
};

struct dir_closer {
    void operator()(DIR *d) const { closedir(d); }
};
using dir_handle = std::unique_ptr<DIR, dir_closer>;

struct file_closer {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

struct heap_free {
    void operator()(void *p) const { std::free(p); }
};
using heap_text = std::unique_ptr<char, heap_free>;

}  // namespace runtime
