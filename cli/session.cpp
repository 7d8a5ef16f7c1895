#include "cli/session.h"

#include "platform/clock.h"
#include "platform/folders.h"
#include "sim/sim_backend.h"

namespace qvm::cli {
namespace {

// Byte 4 of the vendor identification string (indexed string 0xC7) is the protocol
// generation of a device with 64-byte reports.
constexpr int kIdentStringIndex = 0xC7;
constexpr std::size_t kIdentGenerationByte = 4;

struct ConfigInterfaceRule {
    int interfaceNumber;
    int featureLength;
    uint16_t usagePage;
    uint16_t usage;
};
constexpr ConfigInterfaceRule kConfigInterfaces[] = {
    {0, kShortFrame, 0x0001, 0x0002},
    {1, kLongFrame, 0xFF18, 0x0001},
    {2, kLongFrame, 0xFF18, 0x0001},
};
constexpr uint16_t kVendorId = 0x0C45;

}  // namespace

bool IsConfigInterfaceInfo(const HidDeviceInfo& info) {
    if (info.vendorId != kVendorId) return false;
    for (const auto& rule : kConfigInterfaces) {
        if (info.interfaceNumber == rule.interfaceNumber &&
            info.caps.featureLength == rule.featureLength &&
            info.caps.usagePage == rule.usagePage && info.caps.usage == rule.usage) {
            return true;
        }
    }
    return false;
}

Session::Session(Key, std::unique_ptr<HidBackend> backend, std::unique_ptr<NamedMutex> lock)
    : backend_(std::move(backend)),
      lock_(std::move(lock)),
      transport_(*backend_, SystemClock::Instance(), *lock_),
      commands_(transport_, values_, cache_) {}

Result<std::unique_ptr<Session>> Session::Open(const GlobalOptions& options) {
    Result<std::unique_ptr<HidBackend>> backend = MakeError("no backend");
    if (options.simulate) {
        const std::string state = JoinPath(UserDataFolder(), "sim");
        if (Status made = EnsureFolder(state); !made) {
            return MakeError("cannot keep the simulated devices: " + made.message());
        }
        backend = MakeSimBackend(*options.simulate, state);
    } else {
        backend = MakeHidBackend(options.backend);
    }
    if (!backend) return backend.error();
    auto lock = OpenNamedMutex(Transport::kLockName);
    if (!lock) return lock.error();
    return std::make_unique<Session>(Key{}, std::move(backend).value(), std::move(lock).value());
}

Result<std::string> Session::SelectDevice(const GlobalOptions& options) {
    auto list = backend_->Enumerate();
    if (!list) return MakeError("cannot list the HID devices: " + list.message());

    const HidDeviceInfo* chosen = nullptr;
    for (const auto& info : *list) {
        if (!options.device.empty() ? info.path == options.device : IsConfigInterfaceInfo(info)) {
            chosen = &info;
            break;
        }
    }
    if (!chosen) {
        if (!options.device.empty()) {
            return MakeError("no device at " + options.device + " (see qvmctl list)");
        }
        return MakeError("no configuration interface of vendor 0c45 found (see qvmctl list)");
    }
    if (!chosen->openError.empty()) {
        return MakeError("cannot open " + chosen->path + ": " + chosen->openError);
    }
    if (chosen->caps.featureLength != kShortFrame && chosen->caps.featureLength != kLongFrame) {
        return MakeError(chosen->path + " is not a configuration interface (feature reports of " +
                         std::to_string(chosen->caps.featureLength) + " bytes)");
    }

    // Until full identification runs here, the generation comes from the command line or
    // from the identification string of a 64-byte device; a 9-byte device is generation 0.
    int generation = 0;
    if (options.generation) {
        generation = *options.generation;
    } else if (chosen->caps.featureLength == kLongFrame) {
        auto handle = backend_->Open(chosen->path);
        if (!handle) return MakeError("cannot open " + chosen->path + ": " + handle.message());
        auto ident = (*handle)->IndexedString(kIdentStringIndex);
        if (!ident || ident->size() <= kIdentGenerationByte) {
            return MakeError(chosen->path +
                             " gives no identification string; name its protocol generation "
                             "with --generation G");
        }
        generation = (*ident)[kIdentGenerationByte];
    }
    values_.Update(chosen->path, [&](DeviceValues& v) { v.ProtocolGeneration = generation; });
    return chosen->path;
}

}  // namespace qvm::cli
