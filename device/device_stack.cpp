#include "device/device_stack.h"

#include <utility>

namespace qvm {

namespace {

// One lock for every device of a stack whose devices no other process reaches.
class OneProcessLocks final : public DeviceLocks {
  public:
    Result<NamedMutex*> For(const std::string&) override { return &lock_; }

  private:
    LocalMutex lock_;
};

}  // namespace

Result<DeviceStack::Locks> DeviceStack::SharedLocks() {
    auto list = OpenNamedMutex(DeviceLink::kListLockName);
    if (!list) return list.error();
    return Locks{std::make_unique<NamedDeviceLocks>(Transport::kLockName), std::move(list).value()};
}

DeviceStack::Locks DeviceStack::LocalLocks() {
    return Locks{std::make_unique<OneProcessLocks>(), std::make_unique<LocalMutex>()};
}

Result<std::unique_ptr<DeviceStack>> DeviceStack::Open(std::unique_ptr<HidBackend> backend,
                                                       Clock& clock) {
    auto locks = SharedLocks();
    if (!locks) return locks.error();
    return std::make_unique<DeviceStack>(std::move(backend), clock, std::move(locks).value());
}

DeviceStack::DeviceStack(std::unique_ptr<HidBackend> backend, Clock& clock, Locks locks)
    : backend_(std::move(backend)),
      locks_(std::move(locks)),
      transport_(*backend_, clock, *locks_.devices),
      commands_(transport_, values_, cache_),
      keyboards_(transport_, values_),
      link_(*backend_, commands_, *locks_.list, clock) {}

}  // namespace qvm
