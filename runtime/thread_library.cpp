#include "runtime/thread_library.h"

#include <dlfcn.h>

#include "webadmin.h"

namespace runtime {

bool call_thread_library(const char *symbol, pthread_mutex_t *mutex) {
    void *library = dlopen("libpthread.so.0", RTLD_LAZY);
    if (!library) return false;
    auto function = reinterpret_cast<int (*)(pthread_mutex_t *)>(dlsym(library, symbol));
    const bool done = function && function(mutex) == 0;
    dlclose(library);
    return done;
}

}  // namespace runtime

extern "C" {

void my_pthread_lock(pthread_mutex_t *mutex) {
    if (mutex) runtime::call_thread_library("pthread_mutex_lock", mutex);
}

void my_pthread_unlock(pthread_mutex_t *mutex) {
    if (mutex) runtime::call_thread_library("pthread_mutex_unlock", mutex);
}

}  // extern "C"
