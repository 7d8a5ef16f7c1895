// DeviceLink's probes: identification of one configuration interface or keyboard.
#include <algorithm>

#include "device/device_path.h"
#include "device/discovery.h"
#include "device/probe_values.h"

namespace qvm {

namespace {

// Status query reply wait during the 9-byte probe.
constexpr int kShortStatusWaitMs = 15;

ProbeResult ListedResult() {
    return {ProbeOutcome::Listed, {}};
}
ProbeResult Rejected(std::string why) {
    return {ProbeOutcome::Rejected, std::move(why)};
}
ProbeResult NotRecognised(std::string why) {
    return {ProbeOutcome::NotRecognised, std::move(why)};
}

}  // namespace

ProbeResult DeviceLink::ProbeDevice(const std::string& rawPath) {
    const std::string path = NormaliseDevicePath(rawPath);
    ProbeResult result;
    {
        std::lock_guard probe(probeMutex_);
        auto opened = backend_.Open(path);
        if (!opened) return {ProbeOutcome::NotOpened, opened.message()};
        HidHandle& handle = **opened;
        const HidCaps& caps = handle.Caps();
        if (HasTextFrom(path, kShortInterfaceText, kInterfaceTextMinPosition) &&
            caps.featureLength == kShortFeatureLength) {
            result = ProbeShort(path, handle);
        } else {
            result = ProbeLong(path, handle);
        }
    }
    // Neither signature seen: perhaps one of the keyboards (outside the probe lock, as
    // the keyboard test takes only the list lock).
    if (result.outcome != ProbeOutcome::NotRecognised) return result;
    if (ProbeKeyboardImpl(path).listed) return ListedResult();
    return result;
}

// 9-byte interface. Runs under the probe lock with the interface open.
ProbeResult DeviceLink::ProbeShort(const std::string& path, HidHandle& handle) {
    const HidCaps& caps = handle.Caps();
    const ConfigInterfaceRule& rule = kConfigInterfaces[0];
    if (caps.usagePage != rule.usagePage || caps.usage != rule.usage) {
        return NotRecognised("interface 0 declares usage page " + std::to_string(caps.usagePage) +
                             " usage " + std::to_string(caps.usage));
    }
    const ShortIdentity identity = ReadShortIdentity(handle.IndexedString(kInfoStringIndex));
    if (!identity.signatureOk) return NotRecognised("no device signature");
    // From here on the device is ours and never tried as a keyboard.
    const ModelString model = identity.HasModelString()
                                  ? ReadModelString(handle.IndexedString(kModelStringIndex))
                                  : ModelString{};

    DeviceValueTable& table = commands_.Values();
    std::lock_guard list(listLock_);
    if (model.deviceClass != kAcceptedDeviceClass) {
        return Rejected("device class " + std::to_string(model.deviceClass) + " is not supported");
    }
    table.Update(path, [](DeviceValues& v) { v.ProtocolGeneration = 0; });
    const DeviceInfo info = commands_.ReadDeviceInfo(path);
    AppendLocked(path);
    const Frame status = commands_.QueryStatus(path, kShortStatusWaitMs);
    InfoRecord record = table.Get(path).Info();
    for (int r = 0; r < kShortProbeRecords; ++r)
        StoreRecord(record, r, commands_.ProbeRecord(path, r));
    table.Update(path, [&](DeviceValues& v) {
        ApplyShortValues(v, identity, model, info, status);
        v.InfoPages = record;
    });
    commands_.CompleteProbe(path);
    return ListedResult();
}

// 64-byte interface. Runs under the probe lock with the interface open.
ProbeResult DeviceLink::ProbeLong(const std::string& path, HidHandle& handle) {
    const HidCaps& caps = handle.Caps();
    const ConfigInterfaceRule& rule = kConfigInterfaces[1];
    if (caps.featureLength != rule.featureLength || caps.usagePage != rule.usagePage ||
        caps.usage != rule.usage) {
        return NotRecognised("not a configuration interface");
    }
    const InfoString info = MakeLongInfoString(handle.IndexedString(kInfoStringIndex));
    if (!LongSignatureOk(info)) return NotRecognised("no device signature");

    DeviceValueTable& table = commands_.Values();
    std::lock_guard list(listLock_);
    if (LongDeviceClass(info) != kAcceptedDeviceClass) {
        return Rejected("device class " + std::to_string(LongDeviceClass(info)) +
                        " is not supported");
    }
    AppendLocked(path);
    table.Update(path, [&](DeviceValues& v) { ApplyLongValues(v, info); });
    const int32_t generation = table.Generation(path);

    commands_.NotifyUpdate(path);
    clock_.SleepMs(kPageModeDelayMs);
    commands_.SetPageMode(path);

    InfoRecord record = table.Get(path).Info();
    if (generation < kFirstExtendedGeneration) {
        for (int w : kInfoPageWordOffsets)
            StoreInfoPage(record, w, commands_.ReadInfoPage(path, w));
    } else {
        for (int r = 0; r < kExtendedProbeRecords; ++r) {
            StoreRecord(record, r, commands_.ProbeRecord(path, r));
        }
        SetExtendedRecordDefaults(record);
    }
    table.Update(path, [&](DeviceValues& v) { v.InfoPages = record; });
    return ListedResult();
}

int DeviceLink::ProbeKeyboard(const std::string& rawPath) {
    return ProbeKeyboardImpl(NormaliseDevicePath(rawPath)).result;
}

DeviceLink::KeyboardProbe DeviceLink::ProbeKeyboardImpl(const std::string& path) {
    if (!IsKeyboard(path)) return {};
    const std::string product = Describe(path).value_or(HidDeviceInfo{}).product;

    std::lock_guard list(listLock_);
    AppendLocked(path);
    const KeyboardReport reply = commands_.IdentifyKeyboard(path).value_or(KeyboardReport{});
    commands_.Values().Update(path,
                              [&](DeviceValues& v) { ApplyKeyboardValues(v, reply, product); });
    return {true, reply[kKeyboardResultByte]};
}

}  // namespace qvm
