// The recorder's cost per input event, and a check that none is lost: 10,000 synthetic
// events (key presses and releases, clicks, wheel notches both ways and pointer movements
// sampled by the cursor track) are recorded; the items are then counted back against the
// events fed and the pointer's path is replayed from the recorded movements.
//
//   bench_recorder [--events N]    (default 10000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "macro/macro_recorder.h"

namespace {

using namespace qvm;

// A clock that moves only when told to: the waits recorded are then known exactly.
class ManualClock final : public Clock {
  public:
    void SleepMs(int ms) override { now_ += std::chrono::milliseconds(ms); }
    TimePoint Now() const override { return now_; }

  private:
    TimePoint now_{};
};

constexpr int kGapMs = 7;        // between most events
constexpr int kTrackGapMs = 60;  // before a movement: past the 50 ms track interval
constexpr int kRounds = 5;
constexpr int kPattern = 6;  // key down, key up, press, release, wheel, movement
constexpr int kScanCodes[] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21};  // A B C D E F

struct Fed {
    long keyDowns = 0, keyUps = 0, presses = 0, releases = 0, forward = 0, back = 0, moves = 0;
    ScreenPoint last{};
};

struct Counted {
    long keyDowns = 0, keyUps = 0, presses = 0, releases = 0, forward = 0, back = 0;
    long waits = 0, other = 0;
    ScreenPoint path{};
    bool started = false;
};

int16_t Word(const MacroItem& item, int at) {
    return static_cast<int16_t>(item.code[at] | (item.code[at + 1] << 8));
}

Counted Count(const std::vector<MacroItem>& items) {
    Counted c;
    for (const MacroItem& item : items) {
        const uint8_t op = item.Opcode();
        if (op == kOpKeyDown) {
            ++c.keyDowns;
        } else if (op == kOpKeyUp) {
            ++c.keyUps;
        } else if (op >= kOpButtonDown && op < kOpButtonUp) {
            ++c.presses;
        } else if (op >= kOpButtonUp && op < kOpWheel) {
            ++c.releases;
        } else if (op >= kOpWheel && op <= (kOpWheel | kOperandMask)) {
            const int raw = op & kOperandMask;
            const int count = raw > 15 ? raw - 32 : raw;
            (count > 0 ? c.forward : c.back) += std::abs(count);
        } else if (op == kOpWaitShort || op == kOpWaitLong) {
            ++c.waits;
        } else if (op == kOpMoveTo && !c.started) {
            c.path = {Word(item, 1), Word(item, 3)};
            c.started = true;
        } else if (op == kOpMove && c.started) {
            c.path.x += Word(item, 1);
            c.path.y += Word(item, 3);
        } else {
            ++c.other;
        }
    }
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    long events = 10000;
    if (argc == 3 && std::strcmp(argv[1], "--events") == 0) {
        char* end = nullptr;
        events = std::strtol(argv[2], &end, 10);
        if (*end != '\0' || events < 1 || events > 10'000'000) {
            std::fprintf(stderr, "bench_recorder: --events takes a number from 1 to 10000000\n");
            return 2;
        }
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: bench_recorder [--events N]\n");
        return 2;
    }

    Fed fed;
    fed.last = {400, 300};

    // The events are built before the clock starts, so only the recorder is timed.
    struct Event {
        int gapMs;
        bool key;
        KeyInput keyInput;
        PointerInput pointer;
    };
    std::vector<Event> script;
    script.reserve(static_cast<std::size_t>(events));
    for (long i = 0; i < events; ++i) {
        const int scan = kScanCodes[(i / kPattern) % std::size(kScanCodes)];
        switch (i % kPattern) {
            case 0:
                script.push_back({kGapMs, true, {scan, true}, {}});
                ++fed.keyDowns;
                break;
            case 1:
                script.push_back({kGapMs, true, {scan, false}, {}});
                ++fed.keyUps;
                break;
            case 2:
                script.push_back({kGapMs, false, {}, {.pressed = kMacroButtonLeft}});
                ++fed.presses;
                break;
            case 3:
                script.push_back({kGapMs, false, {}, {.released = kMacroButtonLeft}});
                ++fed.releases;
                break;
            case 4: {
                const int notch = (i / kPattern) % 2 ? -120 : 120;
                script.push_back({kGapMs, false, {}, {.wheelDelta = notch}});
                (notch > 0 ? fed.forward : fed.back) += 1;
                break;
            }
            default:
                fed.last = {fed.last.x + 3, fed.last.y - 2};
                script.push_back({kTrackGapMs, false, {}, {.position = fed.last}});
                ++fed.moves;
                break;
        }
    }

    // Each round records the whole script with a fresh recorder; the best and the median
    // round are reported, since the machine may be busy with other work.
    std::vector<double> nsPerEvent;
    std::vector<MacroItem> list;
    for (int round = 0; round < kRounds; ++round) {
        ManualClock clock;
        MacroRecorder recorder(clock);
        recorder.SetOptions({.recordIntervals = true,
                             .recordCursorTrack = true,
                             .trackInterval = TrackInterval::k50Ms});
        list.clear();
        recorder.StartRecording();
        std::chrono::nanoseconds spent{0};
        for (const Event& e : script) {
            clock.SleepMs(e.gapMs);
            const auto t0 = std::chrono::steady_clock::now();
            RecorderOutput out = e.key ? recorder.OnKey(e.keyInput) : recorder.OnPointer(e.pointer);
            list.insert(list.end(), out.items.begin(), out.items.end());
            spent += std::chrono::steady_clock::now() - t0;
        }
        recorder.Stop();
        nsPerEvent.push_back(double(spent.count()) / double(events));
    }
    std::sort(nsPerEvent.begin(), nsPerEvent.end());

    const Counted got = Count(list);
    // The first event has no wait before it, every later one has exactly one (each comes
    // some milliseconds after the one before). Every movement comes later than the track
    // interval after the event before it, so each is sampled: the first as an absolute
    // position, the others as steps that must add up to where the pointer went.
    const long expectedWaits = events - 1;
    const ScreenPoint expectedPath = fed.moves ? fed.last : ScreenPoint{};
    const bool ok = got.keyDowns == fed.keyDowns && got.keyUps == fed.keyUps &&
                    got.presses == fed.presses && got.releases == fed.releases &&
                    got.forward == fed.forward && got.back == fed.back &&
                    got.waits == expectedWaits && got.other == 0 && got.path == expectedPath;
    std::printf("events %ld  items %zu  dropped %s\n", events, list.size(), ok ? "none" : "SOME");
    std::printf(
        "  keys %ld/%ld down, %ld/%ld up; clicks %ld/%ld, %ld/%ld; wheel %ld/%ld forward, %ld/%ld "
        "back; waits %ld/%ld\n",
        got.keyDowns, fed.keyDowns, got.keyUps, fed.keyUps, got.presses, fed.presses, got.releases,
        fed.releases, got.forward, fed.forward, got.back, fed.back, got.waits, expectedWaits);
    std::printf("  pointer path ends at (%d, %d), fed (%d, %d)\n", got.path.x, got.path.y,
                expectedPath.x, expectedPath.y);
    std::printf("  time per event %.1f ns best, %.1f ns median of %d rounds\n", nsPerEvent.front(),
                nsPerEvent[nsPerEvent.size() / 2], kRounds);
    return ok ? 0 : 1;
}
