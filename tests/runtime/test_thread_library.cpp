// The mutex calls looked up in the thread library at each call.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "webadmin.h"

namespace {

int try_from_another_thread(pthread_mutex_t *mutex) {
    int result = -1;
    std::thread([&] {
        result = pthread_mutex_trylock(mutex);
        if (result == 0) pthread_mutex_unlock(mutex);
    }).join();
    return result;
}

TEST(ThreadLibrary, LocksAndUnlocksTheCallersMutex) {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    my_pthread_lock(&mutex);
    EXPECT_EQ(try_from_another_thread(&mutex), EBUSY);
    my_pthread_unlock(&mutex);
    EXPECT_EQ(try_from_another_thread(&mutex), 0);
    my_pthread_lock(nullptr);
    my_pthread_unlock(nullptr);
}

}  // namespace
