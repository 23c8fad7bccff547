// The thread library's mutex calls, looked up at the moment of the call:
// the appliance's libraries lock through whatever thread library the
// process has, without linking one.
#pragma once

#include <pthread.h>

namespace runtime {

// Looks symbol up in libpthread.so.0 and calls it on mutex; false when the
// library or the symbol is missing or the call fails.
bool call_thread_library(const char *symbol, pthread_mutex_t *mutex);

}  // namespace runtime
