// Named mutexes shared between processes. Two processes of this system (the desktop
// program and qvmctl) never interleave two feature exchanges because both take the
// same named lock around each one.
//
// On Linux a named mutex is an flock() on $XDG_RUNTIME_DIR/qvm-gaming/NAME.lock
// (fallback /tmp/qvm-gaming-UID/), plus an in-process mutex because flock() does not
// exclude two threads sharing one open file description.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/result.h"

namespace qvm {

// BasicLockable: usable with std::lock_guard / std::unique_lock.
class NamedMutex {
public:
    virtual ~NamedMutex() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

// An in-process mutex with the same interface, for tests and for code paths that
// need no cross-process exclusion.
class LocalMutex final : public NamedMutex {
public:
    void lock() override { m_.lock(); }
    void unlock() override { m_.unlock(); }

private:
    std::mutex m_;
};

// Opens (creating when needed) the lock file of `name` in the runtime folder.
Result<std::unique_ptr<NamedMutex>> OpenNamedMutex(const std::string& name);

// The folder that holds the lock files.
std::string LockFolder();

}  // namespace qvm
