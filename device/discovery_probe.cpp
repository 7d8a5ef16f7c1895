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
ProbeResult Stopped(const DeviceFailure& failure) {
    return {ProbeOutcome::Failed, failure.Message(), failure.kind};
}

}  // namespace

ProbeResult DeviceLink::ProbeDevice(const std::string& rawPath) {
    const std::string path = NormaliseDevicePath(rawPath);
    ProbeResult result;
    {
        std::lock_guard probe(probeMutex_);
        // A device probed again is given a fresh start, even if it was seen to leave.
        commands_.GetTransport().Forget(path);
        commands_.ForgetWriteGate(path);
        auto opened = backend_.Open(path);
        if (!opened) return {ProbeOutcome::NotOpened, opened.message(), opened.kind()};
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
    if (model.deviceClass != kAcceptedDeviceClass) {
        return Rejected("device class " + std::to_string(model.deviceClass) + " is not supported");
    }
    // Identification stops at the first exchange that fails: a device that left, stays
    // busy or does not answer is not listed with the zeros it did not send.
    table.Update(path, [](DeviceValues& v) { v.ProtocolGeneration = 0; });
    const DeviceInfo info = commands_.ReadDeviceInfo(path);
    if (auto failed = ExchangeFailed(path)) return Stopped(*failed);
    const Frame status = commands_.QueryStatus(path, kShortStatusWaitMs);
    if (auto failed = ExchangeFailed(path)) return Stopped(*failed);
    InfoRecord record = table.Get(path).Info();
    for (int r = 0; r < kShortProbeRecords; ++r) {
        StoreRecord(record, r, commands_.ProbeRecord(path, r));
        if (auto failed = ExchangeFailed(path)) return Stopped(*failed);
    }
    table.Update(path, [&](DeviceValues& v) {
        ApplyShortValues(v, identity, model, info, status);
        v.InfoPages = record;
    });
    commands_.CompleteProbe(path);
    if (auto failed = ExchangeFailed(path)) return Stopped(*failed);
    Append(path);
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
    if (LongDeviceClass(info) != kAcceptedDeviceClass) {
        return Rejected("device class " + std::to_string(LongDeviceClass(info)) +
                        " is not supported");
    }
    table.Update(path, [&](DeviceValues& v) { ApplyLongValues(v, info); });
    const int32_t generation = table.Generation(path);

    // A command this generation does not have sends nothing and fails nothing.
    commands_.NotifyUpdate(path);
    if (auto failed = ExchangeFailed(path)) return Stopped(*failed);
    clock_.SleepMs(kPageModeDelayMs);
    commands_.SetPageMode(path);
    if (auto failed = ExchangeFailed(path)) return Stopped(*failed);

    InfoRecord record = table.Get(path).Info();
    if (generation < kFirstExtendedGeneration) {
        for (int w : kInfoPageWordOffsets) {
            StoreInfoPage(record, w, commands_.ReadInfoPage(path, w));
            if (auto failed = ExchangeFailed(path)) return Stopped(*failed);
        }
    } else {
        for (int r = 0; r < kExtendedProbeRecords; ++r) {
            StoreRecord(record, r, commands_.ProbeRecord(path, r));
            if (auto failed = ExchangeFailed(path)) return Stopped(*failed);
        }
        SetExtendedRecordDefaults(record);
    }
    table.Update(path, [&](DeviceValues& v) { v.InfoPages = record; });
    Append(path);
    return ListedResult();
}

std::optional<DeviceFailure> DeviceLink::ExchangeFailed(const std::string& path) const {
    return commands_.GetTransport().LastFailure(path);
}

int DeviceLink::ProbeKeyboard(const std::string& rawPath) {
    return ProbeKeyboardImpl(NormaliseDevicePath(rawPath)).result;
}

DeviceLink::KeyboardProbe DeviceLink::ProbeKeyboardImpl(const std::string& path) {
    if (!IsKeyboard(path)) return {};
    const std::string product = Describe(path).value_or(HidDeviceInfo{}).product;

    commands_.GetTransport().Forget(path);
    const KeyboardReport reply = keyboards_.IdentifyKeyboard(path).value_or(KeyboardReport{});
    // A keyboard that left while it was asked is not listed.
    if (commands_.GetTransport().IsGone(path)) return {};
    commands_.Values().Update(path,
                              [&](DeviceValues& v) { ApplyKeyboardValues(v, reply, product); });
    Append(path);
    return {true, reply[kKeyboardResultByte]};
}

}  // namespace qvm
