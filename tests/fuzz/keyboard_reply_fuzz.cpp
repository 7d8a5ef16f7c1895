// Fuzz target for what the keyboards answer on their report pipe: a simulated keyboard is
// probed and its lighting read, changed, stepped, reset and its key colours read and
// written back, while the input replaces the keyboard's answers (keyboard_answers.h).
// Every step checks what it can against the answers the host was handed: the values a
// read takes are the answer's bytes and inside their ranges, a refused answer leaves the
// state as it was, the reports built from a read carry back what was read, and nothing
// is sent to a keyboard known to have left.
//
// Input: byte 0 picks the keyboard, the keys and the step; the rest are the answers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "device/device_stack.h"
#include "device/probe_values.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/keyboard_answers.h"
#include "lighting/keyboard_lighting.h"
#include "sim/sim_backend.h"
#include "support/fake_clock.h"

namespace {

using qvm::KeyboardReport;
using qvm::fuzz::PipeExchange;
using qvm::fuzz::Require;

constexpr const char* kKeyboards[] = {"mx28", "mx29", "mx29/product=MX-30"};
constexpr std::size_t kVariantKeyboard = 2;  // its product names the variant
constexpr std::size_t kMaxKeys = 12;
constexpr uint8_t kKeyStep = 53;  // odd, so that up to 256 keys never repeat

constexpr uint8_t kSideReadTarget = 2;
constexpr uint8_t kKeyTarget = 1;
constexpr uint8_t kSideTarget = 2;
constexpr uint8_t kEffectSelector = 2;
constexpr uint8_t kSideSelector = 6;
constexpr int kSideSlot2Red = 16;
constexpr int kSideSlot2Fourth = 19;
constexpr uint8_t kSideSlot2RedValue = 0xFF;
constexpr uint8_t kSideSlot2FourthValue = 1;

// The exchanges the pipe saw from `mark` on.
std::span<const PipeExchange> Since(const qvm::fuzz::AnswerScript& script, std::size_t mark) {
    return std::span(script.Log()).subspan(mark);
}

bool AnyByte(const KeyboardReport& report) {
    return std::any_of(report.begin(), report.end(), [](uint8_t b) { return b != 0; });
}

qvm::Rgb RgbAt(const KeyboardReport& report, int at) {
    const auto i = static_cast<std::size_t>(at);
    return {report[i], report[i + 1], report[i + 2]};
}

bool Is(const KeyboardReport& request, qvm::KeyboardSub sub) {
    return request[0] == qvm::kKeyboardReportId && request[1] == qvm::kKeyboardTag &&
           request[2] == static_cast<uint8_t>(sub);
}

struct Run {
    qvm::DeviceStack& stack;
    const std::string& path;
    const qvm::fuzz::AnswerScript& script;
    qvm::KeyboardLighting& lighting;
};

struct Before {
    qvm::KeyboardLightingState state;
    bool known = false;
    bool gone = false;
    std::size_t mark = 0;
};

Before Note(const Run& run) {
    return {run.lighting.State(), run.lighting.StateKnown(),
            run.stack.GetTransport().IsGone(run.path), run.script.Log().size()};
}

// What holds after every step: the state stays in range, and a keyboard that had left is
// sent nothing.
void CheckAfter(const Run& run, const Before& before) {
    Require(qvm::CheckKeyboardLighting(run.lighting.State()).ok());
    if (before.gone) Require(Since(run.script, before.mark).empty());
}

// The identification answer gives the probe's result and the firmware.
bool Probe(const Run& run, std::size_t keyboard) {
    const Before before = Note(run);
    const int result = run.stack.Link().ProbeKeyboard(run.path);
    const auto sent = Since(run.script, before.mark);
    Require(sent.size() == 1 && Is(sent[0].request, qvm::KeyboardSub::Identify));
    if (run.stack.GetTransport().IsGone(run.path)) {
        Require(result == 0 && sent[0].failed);
        return false;
    }
    const KeyboardReport& answer = sent[0].answer;
    Require(result == answer[qvm::kKeyboardResultByte]);
    uint32_t firmware = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        firmware |= static_cast<uint32_t>(answer[qvm::kKeyboardFirmwareByte + i]) << (8 * i);
    }
    const qvm::DeviceValues values = run.stack.Values().Get(run.path);
    Require(values.ModelCode == qvm::kKeyboardModelCode);
    Require(values.FirmwareVersion == firmware);
    Require(values.IdentByte3 == (keyboard == kVariantKeyboard ? 1 : 0));
    return true;
}

// A state read whose two answers are the last two exchanges.
void CheckStateRead(const Run& run, const Before& before, const qvm::Result<int>& read) {
    const auto sent = Since(run.script, before.mark);
    const qvm::KeyboardLightingState& state = run.lighting.State();
    if (!read) {
        Require(state == before.state && run.lighting.StateKnown() == before.known);
        // Two answers in range from a keyboard still there are never refused.
        if (sent.size() == 2 && !sent[0].failed && !sent[1].failed) {
            const KeyboardReport& keys = sent[0].answer;
            Require(!AnyByte(keys) || !AnyByte(sent[1].answer) ||
                    keys[qvm::kKbEffectAt] >= qvm::kKeyboardEffectCount ||
                    keys[qvm::kKbSpeedAt] > qvm::kMaxKeyboardLevel ||
                    keys[qvm::kKbBrightnessAt] > qvm::kMaxKeyboardLevel ||
                    keys[qvm::kKbDirectionAt] > qvm::kMaxKeyboardDirection);
        }
        return;
    }
    Require(sent.size() >= 2 && run.lighting.StateKnown());
    const PipeExchange& keys = sent[sent.size() - 2];
    const PipeExchange& side = sent.back();
    Require(Is(keys.request, qvm::KeyboardSub::ReadState) && keys.request[4] == 0);
    Require(Is(side.request, qvm::KeyboardSub::ReadState) && side.request[4] == kSideReadTarget);
    Require(*read == state.effect && state.effect == keys.answer[qvm::kKbEffectAt]);
    Require(state.speed == keys.answer[qvm::kKbSpeedAt]);
    Require(state.brightness == keys.answer[qvm::kKbBrightnessAt]);
    Require(state.direction == keys.answer[qvm::kKbDirectionAt]);
    Require(state.colour1 == RgbAt(keys.answer, qvm::kKbSlot1At));
    Require(state.colour2 == RgbAt(keys.answer, qvm::kKbSlot2At));
    Require(state.sideLed == (side.answer[qvm::kKbSideOnAt] != 0));
}

// The set-effect report carries the state: its fields, the table's colour pair, and the
// colour the effect takes (never 0, which became red).
void CheckEffectSent(const qvm::KeyboardLightingState& state, const KeyboardReport& request) {
    Require(Is(request, qvm::KeyboardSub::SetEffect) && request[4] == kKeyTarget &&
            request[5] == kEffectSelector);
    Require(request[qvm::kKbEffectAt] == state.effect && request[qvm::kKbSpeedAt] == state.speed);
    Require(request[qvm::kKbBrightnessAt] == state.brightness &&
            request[qvm::kKbDirectionAt] == state.direction);
    const qvm::KeyboardEffectInfo& info =
        qvm::KeyboardEffects()[static_cast<std::size_t>(state.effect)];
    std::array<uint8_t, 4> slot1 = info.slot1;
    std::array<uint8_t, 4> slot2 = info.slot2;
    const auto put = [](const qvm::Rgb& colour, std::array<uint8_t, 4>& slot) {
        Require(colour != qvm::Rgb{});
        slot = {colour.red, colour.green, colour.blue, slot[3]};
    };
    if (info.takes == qvm::EffectColour::Colour1) put(state.colour1, slot1);
    if (info.takes == qvm::EffectColour::Colour2) put(state.colour2, slot2);
    Require(std::equal(slot1.begin(), slot1.end(), request.begin() + qvm::kKbSlot1At));
    Require(std::equal(slot2.begin(), slot2.end(), request.begin() + qvm::kKbSlot2At));
}

// The state a set-effect report for `state` leaves: a zero colour the effect takes is red.
qvm::KeyboardLightingState AsSent(qvm::KeyboardLightingState state) {
    const auto takes = qvm::KeyboardEffects()[static_cast<std::size_t>(state.effect)].takes;
    qvm::Rgb& colour = takes == qvm::EffectColour::Colour1 ? state.colour1 : state.colour2;
    if (takes != qvm::EffectColour::None && colour == qvm::Rgb{}) colour = qvm::kKeyboardZeroColour;
    return state;
}

std::size_t ReportsFor(std::size_t keys) {
    return (keys + qvm::kKbKeysPerReport - 1) / qvm::kKbKeysPerReport;
}

// Key colour reports, five keys each in ascending order, the last ones of the log.
std::span<const PipeExchange> KeyReports(const Run& run, const Before& before, std::size_t keys,
                                         qvm::KeyboardSub sub) {
    const auto sent = Since(run.script, before.mark);
    Require(sent.size() >= ReportsFor(keys));
    const auto reports = sent.last(ReportsFor(keys));
    for (const PipeExchange& e : reports) {
        Require(Is(e.request, sub) && e.request[4] == kKeyTarget);
        Require(e.request[qvm::kKbEffectAt] == run.lighting.State().effect);
    }
    return reports;
}

std::vector<qvm::KeyColourAt> ReadKeys(const Run& run, const std::vector<uint8_t>& keys) {
    const Before before = Note(run);
    const auto read = run.lighting.ReadKeyColours(keys);
    CheckAfter(run, before);
    if (!read) {
        Require(run.lighting.State().keys == before.state.keys);
        return {};
    }
    std::vector<uint8_t> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    Require(read->size() == sorted.size());
    const auto reports = KeyReports(run, before, sorted.size(), qvm::KeyboardSub::ReadKeyColours);
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const PipeExchange& e = reports[i / qvm::kKbKeysPerReport];
        const auto slot = static_cast<int>(i % qvm::kKbKeysPerReport);
        Require(e.request[static_cast<std::size_t>(qvm::kKbKeysAt + slot)] == sorted[i]);
        const qvm::Rgb rgb = RgbAt(e.answer, qvm::kKbKeyColourAt + qvm::kKbKeyColourStride * slot);
        const qvm::KeyColour expected{rgb.red, rgb.green, rgb.blue, rgb != qvm::Rgb{}};
        Require((*read)[i].key == sorted[i] && (*read)[i].colour == expected);
        Require(run.lighting.State().keys.at(sorted[i]) == expected);
    }
    return *read;
}

// The colours just read, written back: the reports carry what the answers carried.
void WriteBack(const Run& run, const std::vector<qvm::KeyColourAt>& read) {
    const Before before = Note(run);
    const qvm::Status written = run.lighting.WriteKeyColours(read);
    CheckAfter(run, before);
    Require(run.lighting.State().keys == before.state.keys);
    if (!written) return;
    const auto reports = KeyReports(run, before, read.size(), qvm::KeyboardSub::WriteKeyColours);
    for (std::size_t i = 0; i < read.size(); ++i) {
        const KeyboardReport& request = reports[i / qvm::kKbKeysPerReport].request;
        const auto slot = static_cast<int>(i % qvm::kKbKeysPerReport);
        const qvm::KeyColour& c = read[i].colour;
        Require(request[static_cast<std::size_t>(qvm::kKbKeysAt + slot)] == read[i].key);
        Require(RgbAt(request, qvm::kKbKeyColourAt + qvm::kKbKeyColourStride * slot) ==
                qvm::Rgb{c.red, c.green, c.blue});
    }
}

// The state read, sent back unchanged.
void Resend(const Run& run) {
    const Before before = Note(run);
    const qvm::Status sent = run.lighting.ChangeEffect({});
    CheckAfter(run, before);
    const qvm::KeyboardLightingState& state = run.lighting.State();
    if (!before.known) return;
    if (!sent) {
        Require(state == before.state);
        return;
    }
    Require(state == AsSent(before.state));
    CheckEffectSent(state, Since(run.script, before.mark).back().request);
}

void Step(const Run& run, qvm::KeyboardLevel level, int delta) {
    const Before before = Note(run);
    const auto stepped = run.lighting.Step(level, delta);
    CheckAfter(run, before);
    if (!before.known) return;
    const qvm::KeyboardLightingState& state = run.lighting.State();
    const auto field = [level](const qvm::KeyboardLightingState& s) {
        return level == qvm::KeyboardLevel::Speed ? s.speed : s.brightness;
    };
    const int target = field(before.state) + delta;
    if (!stepped || !*stepped) {
        Require(state == before.state);
        if (stepped) {
            Require(target < 0 || target > qvm::kMaxKeyboardLevel);
            Require(Since(run.script, before.mark).empty());
        }
        return;
    }
    Require(field(state) == target);
    qvm::KeyboardLightingState expected = AsSent(before.state);
    (level == qvm::KeyboardLevel::Speed ? expected.speed : expected.brightness) = target;
    Require(state == expected);
    CheckEffectSent(state, Since(run.script, before.mark).back().request);
}

void ToggleSide(const Run& run) {
    const Before before = Note(run);
    const bool on = !before.state.sideLed;
    const qvm::Status set = run.lighting.SetSideLed(on);
    CheckAfter(run, before);
    qvm::KeyboardLightingState expected = before.state;
    if (!set) {
        Require(run.lighting.State() == expected);
        return;
    }
    expected.sideLed = on;
    Require(run.lighting.State() == expected);
    const KeyboardReport& request = Since(run.script, before.mark).back().request;
    Require(Is(request, qvm::KeyboardSub::SetEffect) && request[4] == kSideTarget);
    Require(request[5] == kSideSelector && request[qvm::kKbEffectAt] == kSideSelector);
    Require(request[qvm::kKbSideOnAt] == (on ? qvm::kKbSideOnValue : 0));
    Require(request[kSideSlot2Red] == kSideSlot2RedValue &&
            request[kSideSlot2Fourth] == kSideSlot2FourthValue);
}

void Reset(const Run& run, const std::vector<uint8_t>& keys) {
    std::vector<qvm::KeyOfKind> kinds;
    for (uint8_t key : keys) kinds.push_back({key, static_cast<uint8_t>(key % 4)});
    const Before before = Note(run);
    const qvm::Status reset = run.lighting.Reset(kinds);
    CheckAfter(run, before);
    if (!reset) return;
    // The reset ends with a state read; its answers are the last two exchanges.
    Before read = before;
    CheckStateRead(run, read, run.lighting.State().effect);
    for (const qvm::KeyOfKind& k : kinds) {
        const bool red = k.kind == qvm::kResetRedKeyKind;
        const qvm::KeyColour expected = red ? qvm::KeyColour{0xFF, 0, 0, true} : qvm::KeyColour{};
        Require(run.lighting.State().keys.at(k.key) == expected);
    }
}

// The raw command hands back the answer as it came, and sends no payload that does not fit.
void RawCommand(const Run& run, uint8_t sub, std::span<const uint8_t> payload) {
    const Before before = Note(run);
    const auto reply = run.stack.Keyboards().SendKeyboardCommand(run.path, sub, payload);
    const auto sent = Since(run.script, before.mark);
    CheckAfter(run, before);
    constexpr auto kRoom =
        static_cast<std::size_t>(qvm::kKeyboardReportLength - qvm::kKeyboardPayloadAt);
    if (payload.size() > kRoom) {
        Require(!reply && sent.empty());
        return;
    }
    if (!reply) {
        Require(run.stack.GetTransport().IsGone(run.path));
        return;
    }
    Require(sent.size() == 1 && *reply == sent[0].answer);
    KeyboardReport expected{qvm::kKeyboardReportId, qvm::kKeyboardTag, sub};
    std::copy(payload.begin(), payload.end(), expected.begin() + qvm::kKeyboardPayloadAt);
    Require(sent[0].request == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t choice = data[0];
    qvm::test::FakeClock clock;
    const std::size_t keyboard = choice % std::size(kKeyboards);
    auto sim = qvm::SimBackend::Create(kKeyboards[keyboard], "", clock);
    Require(sim.ok());
    std::string path;
    for (const qvm::HidDeviceInfo& info : *(*sim)->Enumerate()) {
        if (info.caps.outputLength == qvm::kKeyboardReportLength) path = info.path;
    }
    Require(!path.empty());
    qvm::fuzz::AnswerScript script(std::span(data, size).subspan(1));
    qvm::DeviceStack stack(std::make_unique<qvm::fuzz::ScriptedBackend>(std::move(*sim), script),
                           clock, qvm::DeviceStack::LocalLocks());
    qvm::KeyboardLighting lighting(stack.Keyboards(), path);
    const Run run{stack, path, script, lighting};

    if (!Probe(run, keyboard)) return 0;
    {
        const Before before = Note(run);
        const auto read = lighting.ReadLightingState();
        CheckAfter(run, before);
        CheckStateRead(run, before, read);
    }
    std::vector<uint8_t> keys;
    const std::size_t keyCount = 1 + (choice >> 2) % kMaxKeys;
    for (std::size_t i = 0; i < keyCount; ++i) {
        keys.push_back(static_cast<uint8_t>(choice * 37 + i * kKeyStep));
    }
    const auto read = ReadKeys(run, keys);
    if (!read.empty()) WriteBack(run, read);
    Resend(run);
    Step(run, (choice & 1) ? qvm::KeyboardLevel::Brightness : qvm::KeyboardLevel::Speed,
         (choice & 2) ? 1 : -1);
    ToggleSide(run);
    Reset(run, keys);
    const std::size_t payload = std::min<std::size_t>(size - 1, (choice >> 3) % 31);
    RawCommand(run, static_cast<uint8_t>(choice ^ 0x5A), std::span(data + 1, payload));
    return 0;
}
