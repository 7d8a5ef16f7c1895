// The exec backend against scripted shell servers: the exact requests it sends, and
// what it makes of servers that die, refuse, answer garbage or stay silent.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/bridge_backend.h"
#include "support/fake_clock.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

// Short limits keep the failure cases fast.
BridgeOptions QuickOptions() {
    BridgeOptions options;
    options.answerTimeoutMs = 300;
    options.exitWaitMs = 300;
    return options;
}

// One request the script insists on, and the lines it answers.
struct Step {
    std::string request;
    std::vector<std::string> answer;
};

// A shell server that checks every request against `steps` (exiting 9 on a mismatch,
// which the client reports as "exited with status 9") and then runs `tail`.
std::string WriteScript(const test::TempFolder& dir, const std::vector<Step>& steps,
                        const std::string& tail) {
    std::string script =
        "expect() { IFS= read -r line || exit 8; [ \"$line\" = \"$1\" ] || "
        "{ echo \"unexpected request '$line', wanted '$1'\" >&2; exit 9; }; }\n";
    for (const Step& step : steps) {
        script += "expect '" + step.request + "'\n";
        for (const std::string& line : step.answer) script += "printf '%s\\n' '" + line + "'\n";
    }
    script += tail + "\n";
    return "exec sh '" + dir.Write("server.sh", script) + "'";
}

const Step kHello{"hello 1", {"ok 1"}};
const Step kListOneDevice{"list",
                          {"dev 3 vid=0c45 pid=7040 if=1 page=ff18 usage=0001 feature=64 "
                           "input=0 output=0 serial=- product=- container=-",
                           "end"}};

std::string NoZombies() {
    int rc = ::waitpid(-1, nullptr, WNOHANG);
    if (rc == -1 && errno == ECHILD) return "";
    return "a child is left behind (waitpid gave " + std::to_string(rc) + ")";
}

enum class Stage { Hello, List };

struct FailureCase {
    const char* name;
    Stage stage;  // where the failure shows
    std::vector<Step> steps;
    std::string tail;
    std::string expected;  // fragment of the error message
};

class BridgeClientFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(BridgeClientFailure, FailsClearlyAndStaysFailed) {
    const FailureCase& c = GetParam();
    test::TempFolder dir;
    std::string command = WriteScript(dir, c.steps, c.tail);
    auto started = SteadyClock::now();
    {
        auto backend = MakeExecBackend(command, QuickOptions());
        if (c.stage == Stage::Hello) {
            ASSERT_FALSE(backend.ok());
            EXPECT_NE(backend.message().find(c.expected), std::string::npos) << backend.message();
            EXPECT_NE(backend.message().find(command), std::string::npos) << backend.message();
        } else {
            ASSERT_TRUE(backend.ok()) << backend.message();
            auto listed = (*backend)->Enumerate();
            ASSERT_FALSE(listed.ok());
            EXPECT_NE(listed.message().find(c.expected), std::string::npos) << listed.message();
            // From now on everything fails at once with the same message.
            auto again = SteadyClock::now();
            auto second = (*backend)->Enumerate();
            auto open = (*backend)->Open("bridge#vid_0c45&pid_7040&mi_01#3");
            EXPECT_LT(SteadyClock::now() - again, std::chrono::milliseconds(50));
            ASSERT_FALSE(second.ok());
            EXPECT_EQ(second.message(), listed.message());
            ASSERT_FALSE(open.ok());
            EXPECT_EQ(open.message(), listed.message());
            EXPECT_TRUE((*backend)->TakeEvents().empty());
        }
    }
    // Servers that would sleep for 30 s are stopped, not waited for.
    EXPECT_LT(SteadyClock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(NoZombies(), "");
    // A closed pipe is an error, never a signal left for later.
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

const std::string kBadDev =
    "dev 3 vid=zz pid=7040 if=1 page=ff18 usage=0001 feature=64 input=0 output=0 serial=- "
    "product=- container=-";

INSTANTIATE_TEST_SUITE_P(
    Servers, BridgeClientFailure,
    ::testing::Values(
        FailureCase{"ExitsAtOnce", Stage::Hello, {}, "exit 3", "exited with status 3"},
        FailureCase{"SilentAtHello",
                    Stage::Hello,
                    {},
                    "read l; sleep 30",
                    "did not answer 'hello 1' within 300 ms"},
        FailureCase{"GarbageDeviceLine",
                    Stage::List,
                    {kHello, {"list", {kBadDev, "end"}}},
                    "",
                    "not an answer of protocol version 1"},
        FailureCase{"StopsReading",
                    Stage::List,
                    {},
                    "read l; exec <&-; echo 'ok 1'; sleep 30",
                    "stopped reading requests"},
        FailureCase{"OverlongAnswer",
                    Stage::List,
                    {kHello},
                    "read l; head -c 70000 /dev/zero | tr '\\0' 'a'; echo; sleep 30",
                    "longer than"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BridgeClient, SendsExactRequestsAndDecodesAnswers) {
    test::TempFolder dir;
    const std::string byeSeen = dir.File("bye-seen");
    std::vector<Step> steps = {
        kHello,
        {"list",
         {"dev 3 vid=0C45 pid=7040 if=1 page=FF18 usage=1 feature=64 input=0 output=0 "
          "serial=- product=4D58 container=2f612f62",
          "dev AbC vid=0c45 pid=8010 if=0 page=0001 usage=0000 feature=0 input=33 output=33 "
          "serial=4d582d3238 product=- container=-",
          "end"}},
        {"getf 3 01000000", {"ok 01A0b0C0"}},
        {"setf 3 0102ff", {"ok"}},
        {"write AbC 0a0b", {"ok"}},
        {"read AbC 33", {"none"}},
        {"read AbC 33", {"ok 0102"}},
        {"str 3 199", {"ok 4142"}},
        {"str 3 5", {"err no such string"}},
        {"getf 3 0100", {"err the device left"}},
        // A refusal that does not say `gone`: the handle asks whether the device is listed.
        {"list",
         {"dev 3 vid=0C45 pid=7040 if=1 page=FF18 usage=1 feature=64 input=0 output=0 "
          "serial=- product=4D58 container=2f612f62",
          "end"}},
        {"events",
         {"add 7 vid=0c45 pid=70a0 if=2 page=ff18 usage=0001 feature=64 input=0 output=0 "
          "serial=- product=- container=-",
          "remove 3", "remove 99", "end"}},
        {"list", {"end"}},
        {"bye", {"ok"}},
    };
    {
        auto backend =
            MakeExecBackend(WriteScript(dir, steps, "touch '" + byeSeen + "'"), QuickOptions());
        ASSERT_TRUE(backend.ok()) << backend.message();
        HidBackend& hid = **backend;

        auto listed = hid.Enumerate();
        ASSERT_TRUE(listed.ok()) << listed.message();
        ASSERT_EQ(listed->size(), 2u);
        EXPECT_EQ((*listed)[0], (HidDeviceInfo{.path = "bridge#vid_0c45&pid_7040&mi_01#3",
                                               .vendorId = 0x0c45,
                                               .productId = 0x7040,
                                               .interfaceNumber = 1,
                                               .caps = {0xff18, 0x0001, 64, 0, 0},
                                               .product = "MX",
                                               .container = "/a/b"}));
        EXPECT_EQ((*listed)[1].path, "bridge#vid_0c45&pid_8010&mi_00#abc");
        EXPECT_EQ((*listed)[1].serial, "MX-28");
        EXPECT_EQ((*listed)[1].caps, (HidCaps{0x0001, 0x0000, 0, 33, 33}));

        auto mouse = hid.Open("bridge#vid_0c45&pid_7040&mi_01#3");
        // The server's own spelling of the ID goes on the wire whatever case the path has.
        auto keyboard = hid.Open("BRIDGE#VID_0C45&PID_8010&MI_00#ABC");
        ASSERT_TRUE(mouse.ok()) << mouse.message();
        ASSERT_TRUE(keyboard.ok()) << keyboard.message();
        EXPECT_EQ((*keyboard)->Caps().inputLength, 33);

        std::vector<uint8_t> feature = {0x01, 0x00, 0x00, 0x00};
        ASSERT_TRUE((*mouse)->GetFeature(feature));
        EXPECT_EQ(feature, (std::vector<uint8_t>{0x01, 0xa0, 0xb0, 0xc0}));
        EXPECT_TRUE((*mouse)->SetFeature(std::vector<uint8_t>{0x01, 0x02, 0xff}));
        EXPECT_TRUE((*keyboard)->Write(std::vector<uint8_t>{0x0a, 0x0b}));
        std::vector<uint8_t> input(33, 0xee);
        EXPECT_EQ((*keyboard)->Read(input, 0), 0);
        EXPECT_EQ((*keyboard)->Read(input, 0), 2);
        EXPECT_EQ(input[0], 0x01);
        EXPECT_EQ(input[1], 0x02);
        EXPECT_EQ((*mouse)->IndexedString(199), (std::vector<uint8_t>{0x41, 0x42}));
        EXPECT_EQ((*mouse)->IndexedString(5), std::nullopt);
        std::vector<uint8_t> shortFeature = {0x01, 0x00};
        EXPECT_FALSE((*mouse)->GetFeature(shortFeature));

        auto events = hid.TakeEvents();
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].kind, HidEventKind::Added);
        EXPECT_EQ(events[0].info.path, "bridge#vid_0c45&pid_70a0&mi_02#7");
        EXPECT_EQ(events[1].kind, HidEventKind::Removed);
        EXPECT_EQ(events[1].info.path, "bridge#vid_0c45&pid_7040&mi_01#3");
        auto empty = hid.Enumerate();
        ASSERT_TRUE(empty.ok()) << empty.message();
        EXPECT_TRUE(empty->empty());
    }
    EXPECT_TRUE(fs::exists(byeSeen)) << "the server never got its bye";
    EXPECT_EQ(NoZombies(), "");
}

// Why a transfer failed, as the handle tells the transport: `err gone...` is a departure
// at once; another refusal is a departure only when the server no longer lists the
// device (asked once per handle); a server that dies takes the device with it.
struct RefusalCase {
    const char* name;
    std::vector<Step> steps;  // after hello and the first list
    int gets;                 // GetFeature calls, each of which fails
    HidFailure failure;
    std::string tail = "read l; echo ok";
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class BridgeClientRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(BridgeClientRefusal, TellsADepartureFromARefusedTransfer) {
    const RefusalCase& c = GetParam();
    test::TempFolder dir;
    std::vector<Step> steps = {kHello, kListOneDevice};
    steps.insert(steps.end(), c.steps.begin(), c.steps.end());
    auto backend = MakeExecBackend(WriteScript(dir, steps, c.tail), QuickOptions());
    ASSERT_TRUE(backend.ok()) << backend.message();
    ASSERT_TRUE((*backend)->Enumerate().ok());
    auto handle = (*backend)->Open("bridge#vid_0c45&pid_7040&mi_01#3");
    ASSERT_TRUE(handle.ok()) << handle.message();
    for (int i = 0; i < c.gets; ++i) {
        std::vector<uint8_t> feature = {0x01, 0x00};
        EXPECT_FALSE((*handle)->GetFeature(feature)) << i;
    }
    const HidFailure failure = (*handle)->LastFailure();
    EXPECT_EQ(failure.kind, c.failure.kind);
    EXPECT_NE(failure.reason.find(c.failure.reason), std::string::npos) << failure.reason;
}

const std::vector<std::string> kNothingListed = {"end"};

INSTANTIATE_TEST_SUITE_P(
    BridgeClient, BridgeClientRefusal,
    ::testing::Values(RefusalCase{"GoneSaysSo",
                                  {{"getf 3 0100", {"err gone: d3 was unplugged"}}},
                                  1,
                                  {HidFailureKind::Gone, "bridge: gone: d3 was unplugged"}},
                      RefusalCase{"StillListedIsARefusedTransfer",
                                  {{"getf 3 0100", {"err busy"}},
                                   kListOneDevice,
                                   {"getf 3 0100", {"err busy"}},
                                   {"getf 3 0100", {"err busy"}}},
                                  3,
                                  {HidFailureKind::Failed, "bridge: busy"}},
                      RefusalCase{
                          "NoLongerListedIsADeparture",
                          {{"getf 3 0100", {"err no such device"}}, {"list", kNothingListed}},
                          1,
                          {HidFailureKind::Gone, "bridge: no such device"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BridgeClient, ADeadServerTakesItsDevicesWithIt) {
    test::TempFolder dir;
    auto backend = MakeExecBackend(WriteScript(dir, {kHello, kListOneDevice}, "read l; exit 5"),
                                   QuickOptions());
    ASSERT_TRUE(backend.ok()) << backend.message();
    ASSERT_TRUE((*backend)->Enumerate().ok());
    auto events = (*backend)->TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0],
              (HidEvent{HidEventKind::Removed, {.path = "bridge#vid_0c45&pid_7040&mi_01#3"}}));
    EXPECT_TRUE((*backend)->TakeEvents().empty());
    auto open = (*backend)->Open("bridge#vid_0c45&pid_7040&mi_01#3");
    ASSERT_FALSE(open.ok());
    EXPECT_NE(open.message().find("exited with status 5"), std::string::npos) << open.message();
}

// A handle asked for a descriptor to wait on asks the server for reports itself, keeps
// them in order, and reports the departure it learns of through the descriptor too.
TEST(BridgeClient, AWatchedHandleKeepsReportsAndTellsADeparture) {
    test::TempFolder dir;
    const std::string read = "read 3 4096";
    const std::vector<Step> steps = {kHello,
                                     kListOneDevice,
                                     {read, {"none"}},
                                     {read, {"ok 0b01"}},
                                     {read, {"ok 0b0203"}},
                                     {read, {"none"}},
                                     {read, {"err gone: d3 was unplugged"}}};
    BridgeOptions options = QuickOptions();
    options.watchPollMs = 1;
    auto backend = MakeExecBackend(WriteScript(dir, steps, "read l; echo ok"), options);
    ASSERT_TRUE(backend.ok()) << backend.message();
    ASSERT_TRUE((*backend)->Enumerate().ok());
    auto handle = (*backend)->Open("bridge#vid_0c45&pid_7040&mi_01#3");
    ASSERT_TRUE(handle.ok()) << handle.message();
    pollfd ready{(*handle)->ReadyFd(), POLLIN, 0};
    ASSERT_GE(ready.fd, 0);
    ASSERT_EQ(::poll(&ready, 1, 10000), 1);

    const std::vector<std::vector<uint8_t>> expected = {{0x0b, 0x01}, {0x0b, 0x02, 0x03}};
    for (const auto& report : expected) {
        std::vector<uint8_t> buffer(16, 0xee);
        const int got = (*handle)->Read(buffer, 10000);
        ASSERT_EQ(got, static_cast<int>(report.size()));
        buffer.resize(got);
        EXPECT_EQ(buffer, report);
    }
    std::vector<uint8_t> buffer(16);
    EXPECT_EQ((*handle)->Read(buffer, 10000), -1);
    EXPECT_EQ((*handle)->LastFailure(),
              (HidFailure{HidFailureKind::Gone, "bridge: gone: d3 was unplugged"}));
    // The departure keeps the descriptor readable: a waiting reader is not left asleep.
    EXPECT_EQ(::poll(&ready, 1, 0), 1);
}

struct PacingCase {
    const char* name;
    std::vector<std::string> answers;  // to the watcher's reads, before the departure
    std::vector<int> pauses;           // what the watcher sleeps, in order
};

// The watcher asks again at once after a report and backs off while nothing comes: the
// pause doubles from the first to the idle one, and a report starts it over.
class BridgeWatchPacingTest : public ::testing::TestWithParam<PacingCase> {};

TEST_P(BridgeWatchPacingTest, PausesFollowWhatTheReadsBring) {
    const PacingCase& c = GetParam();
    test::TempFolder dir;
    const std::string read = "read 3 4096";
    std::vector<Step> steps = {kHello, kListOneDevice};
    for (const std::string& answer : c.answers) steps.push_back({read, {answer}});
    steps.push_back({read, {"err gone: d3 was unplugged"}});
    test::FakeClock clock;
    BridgeOptions options = QuickOptions();
    options.clock = &clock;
    options.watchPollMs = 10;
    options.watchIdlePollMs = 100;
    auto backend = MakeExecBackend(WriteScript(dir, steps, "read l; echo ok"), options);
    ASSERT_TRUE(backend.ok()) << backend.message();
    ASSERT_TRUE((*backend)->Enumerate().ok());
    auto handle = (*backend)->Open("bridge#vid_0c45&pid_7040&mi_01#3");
    ASSERT_TRUE(handle.ok()) << handle.message();
    ASSERT_GE((*handle)->ReadyFd(), 0);
    // Every report, then the departure: the watcher has stopped, its pauses are all taken.
    std::vector<uint8_t> buffer(16);
    int reads = 0;
    while ((*handle)->Read(buffer, 10000) > 0) ++reads;
    EXPECT_EQ((*handle)->LastFailure().kind, HidFailureKind::Gone);
    EXPECT_EQ(reads, std::count_if(c.answers.begin(), c.answers.end(),
                                   [](const std::string& a) { return a != "none"; }));
    EXPECT_EQ(clock.Sleeps(), c.pauses);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgeWatchPacingTest,
    ::testing::Values(PacingCase{"IdleDoublesUpToTheIdlePause",
                                 {"none", "none", "none", "none", "none", "none"},
                                 {10, 20, 40, 80, 100, 100}},
                      PacingCase{"AReportStartsOver",
                                 {"none", "none", "none", "ok 0b01", "none", "none"},
                                 {10, 20, 40, 10, 20}},
                      PacingCase{"ReportsInARowAreAskedForAtOnce",
                                 {"ok 0b01", "ok 0b02", "ok 0b03", "none"},
                                 {10}},
                      PacingCase{"AReportAtTheIdlePauseStartsOverToo",
                                 {"none", "none", "none", "none", "none", "ok 0b01", "none"},
                                 {10, 20, 40, 80, 100, 10}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
