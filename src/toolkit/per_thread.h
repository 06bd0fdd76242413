// This thread's object of one call site, found with one thread-local lookup.
//
// A thread_local object with a destructor is guarded by a second
// thread-local flag, and where thread-locals are emulated (MinGW) every
// lookup is a call; the routines that keep such work areas run hundreds of
// times an analysis. A plain pointer needs no guard, so it costs one lookup,
// and the object behind it is made on the thread's first call and destroyed
// when the thread ends, as a thread_local object is.
//
// Usage: std::vector<double>& wk = per_thread<std::vector<double>>([] {});
// the lambda gives each call site a type, and so its own object.
#pragma once

namespace zalk::toolkit {

template <class T, class Site>
T& per_thread(Site) {
  thread_local T* object = nullptr;
  if (object == nullptr) [[unlikely]] {
    thread_local T owned;
    object = &owned;
  }
  return *object;
}

}  // namespace zalk::toolkit
