// The lock of a list or tree: taken for the scope when asked for.
#pragma once

#include <pthread.h>

namespace container {

class Lock {
public:
    explicit Lock(pthread_mutex_t &mutex, int take = 1) : mutex_(take ? &mutex : nullptr) {
        if (mutex_) pthread_mutex_lock(mutex_);
    }
    ~Lock() {
        if (mutex_) pthread_mutex_unlock(mutex_);
    }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    pthread_mutex_t *mutex_;
};

}  // namespace container
