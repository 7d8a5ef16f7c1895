// Named mutexes shared between processes. Two processes of this system (the desktop
// program and qvmctl) never interleave two feature exchanges because both take the
// same named lock around each one.
//
// On Linux a named mutex is an flock() on $XDG_RUNTIME_DIR/qvm-gaming/NAME.lock
// (fallback /tmp/qvm-gaming-UID/), plus an in-process mutex because flock() does not
// exclude two threads sharing one open file description.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "base/result.h"

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

// One lock per device, so that work on one device never waits for another device's
// exchanges, while two threads or processes still never interleave on the same device.
class DeviceLocks {
  public:
    virtual ~DeviceLocks() = default;
    // The lock of `device` (a device path); the empty path names the lock of exchanges
    // that name no device. The lock lives as long as this object.
    virtual Result<NamedMutex*> For(const std::string& device) = 0;
};

// Every device shares one lock: for tests and single-device rigs.
class SharedDeviceLock final : public DeviceLocks {
  public:
    explicit SharedDeviceLock(NamedMutex& lock) : lock_(lock) {}
    Result<NamedMutex*> For(const std::string&) override { return &lock_; }

  private:
    NamedMutex& lock_;
};

// Named mutexes "BASE DEVICE" (see DeviceLockName), opened on first use and kept.
class NamedDeviceLocks final : public DeviceLocks {
  public:
    explicit NamedDeviceLocks(std::string base) : base_(std::move(base)) {}
    Result<NamedMutex*> For(const std::string& device) override;

  private:
    const std::string base_;
    std::mutex mutex_;  // leaf: guards the map only, never held while a lock is taken
    std::map<std::string, std::unique_ptr<NamedMutex>> locks_;
};

// The name of a device's lock: `base` alone for the empty device, else `base`, a blank
// and the device path with every byte outside [a-z0-9_&#.-] written as %XX, so that two
// paths never share a name and the name is a valid file name. Names too long for a file
// keep their first 160 bytes and add a hash of the whole.
std::string DeviceLockName(const std::string& base, const std::string& device);

// The folder that holds the lock files.
std::string LockFolder();

}  // namespace qvm
