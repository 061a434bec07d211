// Host operations (setters, getters of several fields, Process, snapshots) may
// come from more than one host thread; they are serialised by the dewarper's
// recursive host lock, which no worker ever takes. Operations that wait for a
// worker thread to end (Stop, SetSubWorkerNum) release it before they wait, so
// a callback that calls back into the dewarper cannot deadlock them.
#ifndef ZRFISHEYE_CORE_HOSTLOCK_H
#define ZRFISHEYE_CORE_HOSTLOCK_H

#include <mutex>

using HostGuard = std::lock_guard<std::recursive_mutex>;

#endif
