// A raylib device (the audio device, a window) that was open when the process forked.
//
// A child inherits raylib's state but not its threads: closing the device would wait for a thread
// that the child does not have, and any call that takes one of raylib's locks may find it held by
// a thread that no longer exists. So such a child must treat the device as not open and every
// resource inherited with it as released, without calling raylib.
//
// The state lives in one place per device: the module that opens the device owns a ForkedDevice,
// registers the fork handler once when it executes, and publishes the state in its __pyx_capi__
// (exports.hpp); every module that hands raylib that device's resources binds the same state and
// reads it. A flag per module would miss a fork that happened before the module was first
// imported, in the child.
#pragma once

#include <pthread.h>

namespace tavoro::forked {

struct ForkedDevice {
    bool inherited = false;  // this process was forked while the device was open
};

inline constexpr const char* device_signature = "tavoro::forked::ForkedDevice";

// Registers, once for the process, the handler that marks `State` inherited in a child forked
// while `Open()` holds. 0, or -1 when the handler cannot be registered.
template <ForkedDevice* State, bool (*Open)()>
int watch() {
    return pthread_atfork(nullptr, nullptr, [] {
               if (Open()) State->inherited = true;
           }) == 0
               ? 0
               : -1;
}

}  // namespace tavoro::forked
