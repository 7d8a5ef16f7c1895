// The bridge server answering scripted requests over a fake backend. Expected answers
// are literal lines; an expected line "err FRAGMENT" matches any refusal whose text
// contains FRAGMENT.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "sim/bridge_server.h"
#include "sim/sim_backend.h"
#include "support/bridge_fake_hid.h"

namespace qvm {
namespace {

using Lines = std::vector<std::string>;

HidDeviceInfo MouseConfig() {
    return {.path = "sim#vid_0c45&pid_7040&mi_01#7",
            .vendorId = 0x0c45,
            .productId = 0x7040,
            .interfaceNumber = 1,
            .caps = {0xff18, 0x0001, 64, 0, 0},
            .product = "Gaming Mouse \xc3\xa9"};
}

HidDeviceInfo Keyboard() {
    return {.path = "sim#vid_0c45&pid_8010&mi_00#KB2",
            .vendorId = 0x0c45,
            .productId = 0x8010,
            .interfaceNumber = 0,
            .caps = {0x0001, 0x0000, 0, 33, 33},
            .serial = "MX-28",
            .product = "MX-30 Keyboard",
            .container = "usb-1-2"};
}

HidDeviceInfo Pad() {
    return {.path = "sim#vid_0c45&pid_70a0&mi_02#9",
            .vendorId = 0x0c45,
            .productId = 0x70a0,
            .interfaceNumber = 2,
            .caps = {0xff18, 0x0001, 64, 0, 0},
            .product = "Pad \xc3\xbc"};
}

const std::string kMouseLine =
    "dev 7 vid=0c45 pid=7040 if=1 page=ff18 usage=0001 feature=64 input=0 output=0 "
    "serial=- product=47616d696e67204d6f75736520c3a9 container=-";
const std::string kKeyboardLine =
    "dev kb2 vid=0c45 pid=8010 if=0 page=0001 usage=0000 feature=0 input=33 output=33 "
    "serial=4d582d3238 product=4d582d3330204b6579626f617264 container=7573622d312d32";

// Feeds `requests` to ServeBridge and returns its answer lines.
Lines Serve(HidBackend& backend, const Lines& requests, Status* status = nullptr) {
    std::string input;
    for (const auto& r : requests) input += r + "\n";
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    UniqueFd readEnd(fds[0]);
    {
        UniqueFd writeEnd(fds[1]);
        EXPECT_EQ(::write(writeEnd.get(), input.data(), input.size()),
                  static_cast<ssize_t>(input.size()));
    }
    UniqueFd out(::memfd_create("answers", MFD_CLOEXEC));
    Status served = ServeBridge(backend, readEnd.get(), out.get());
    EXPECT_TRUE(served.ok()) << served.message();
    if (status) *status = served;

    std::string text(static_cast<std::size_t>(::lseek(out.get(), 0, SEEK_END)), '\0');
    EXPECT_EQ(::pread(out.get(), text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    Lines answers;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        EXPECT_NE(end, std::string::npos) << "answer without its line end";
        if (end == std::string::npos) break;
        answers.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return answers;
}

void ExpectAnswers(const Lines& got, const Lines& expected) {
    ASSERT_EQ(got.size(), expected.size()) << ::testing::PrintToString(got);
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (expected[i].rfind("err ", 0) == 0) {
            EXPECT_EQ(got[i].rfind("err ", 0), 0u) << "answer " << i << ": " << got[i];
            EXPECT_NE(got[i].find(expected[i].substr(4)), std::string::npos)
                << "answer " << i << ": " << got[i];
        } else {
            EXPECT_EQ(got[i], expected[i]) << "answer " << i;
        }
    }
}

struct TranscriptCase {
    const char* name;
    Lines requests;
    Lines answers;
};

class BridgeServerTranscript : public ::testing::TestWithParam<TranscriptCase> {};

TEST_P(BridgeServerTranscript, AnswersEveryRequest) {
    test::BridgeFakeHid fake;
    fake.Add(MouseConfig());
    fake.Add(Keyboard());
    fake.With(Keyboard().path, [](auto& d) {
        d.inputs = {{1, 2, 3, 4}, {5, 6, 7, 8, 9}};
        d.strings[1] = {'M', 'X'};
    });
    fake.With(MouseConfig().path, [](auto& d) { d.strings[199] = {0x41, 0x42, 0xff, 0x00}; });
    ExpectAnswers(Serve(fake, GetParam().requests), GetParam().answers);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, BridgeServerTranscript,
    ::testing::Values(
        TranscriptCase{"Hello",
                       {"hello 1", "hello 2", "hello x"},
                       {"ok 1", "err not supported", "err not supported"}},
        TranscriptCase{"List",
                       {"list", "list"},
                       {kMouseLine, kKeyboardLine, "end", kMouseLine, kKeyboardLine, "end"}},
        // No list first: the server finds the IDs by itself. Hex of either case.
        TranscriptCase{"FeatureRoundTrip",
                       {"setf 7 01AAbb", "getf 7 01000000", "getf 7 01", "getf 7 02ff"},
                       {"ok", "ok 01aabb00", "ok 01", "ok 0200"}},
        TranscriptCase{"OutputAndInputReports",
                       {"write kb2 0a0b0c", "read kb2 4", "read kb2 2", "read kb2 4"},
                       {"ok", "ok 01020304", "ok 0506", "none"}},
        TranscriptCase{"IdsAreCaseBlind", {"str KB2 1", "str kb2 1"}, {"ok 4d58", "ok 4d58"}},
        TranscriptCase{"Strings", {"str 7 199", "str 7 5"}, {"ok 4142ff00", "err no string 5"}},
        TranscriptCase{"Malformed",
                       {"", "frob", "getf 7", "getf 7 0", "getf 7 zz", "getf 7 -", "setf 7 -",
                        "getf 99 01", "read 7 0", "read 7 4097", "read 7 x", "str 7 256",
                        "list now", "setf  7 01", "hello", "bye now"},
                       {"err malformed", "err unknown request", "err malformed", "err bad hex",
                        "err bad hex", "err report ID", "err report ID", "err unknown device",
                        "err length", "err length", "err length", "err index", "err malformed",
                        "err malformed", "err malformed", "err malformed"}},
        TranscriptCase{"ByeEndsTheSession", {"bye", "list"}, {"ok"}},
        TranscriptCase{"EndOfInputEndsTheSession", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BridgeServer, ReportsArrivalsAndRemovalsOfListedDevices) {
    test::BridgeFakeHid fake;
    fake.Add(MouseConfig());
    fake.Add(Keyboard());
    fake.Add(Pad());
    fake.QueueEvent({HidEventKind::Removed, {.path = MouseConfig().path}});
    fake.QueueEvent({HidEventKind::Added, Pad()});
    // A removal of something never listed or announced is not passed on.
    fake.QueueEvent({HidEventKind::Removed, {.path = "sim#vid_0c45&pid_1111&mi_00#77"}});

    Lines got = Serve(fake, {"str 7 1", "events", "events", "getf 9 0100"});
    ExpectAnswers(got, {"err no string 1", "remove 7",
                        "add 9 vid=0c45 pid=70a0 if=2 page=ff18 usage=0001 feature=64 input=0 "
                        "output=0 serial=- product=50616420c3bc container=-",
                        "end", "end", "ok 0100"});
}

TEST(BridgeServer, KeepsOneHandleAndReopensAfterAFailure) {
    test::BridgeFakeHid fake;
    fake.Add(MouseConfig());
    ExpectAnswers(Serve(fake, {"setf 7 0101", "getf 7 0100", "read 7 8"}),
                  {"ok", "ok 0101", "none"});
    fake.With(MouseConfig().path, [](auto& d) {
        EXPECT_EQ(d.opens, 1);
        d.failures = 2;
    });

    ExpectAnswers(Serve(fake, {"getf 7 0100", "read 7 8", "getf 7 0100", "setf 7 0102"}),
                  {"err failed", "err failed", "ok 0101", "ok"});
    // One open per session plus one after each failure.
    fake.With(MouseConfig().path, [](auto& d) { EXPECT_EQ(d.opens, 4); });
}

// A simulated device that leaves after its first transfer: the server says `gone`, for
// the transfer that found it gone and for the open that finds it absent, so the host
// stops at once; a device that stays but refuses gets a plain refusal.
TEST(BridgeServer, SaysGoneForADeviceThatLeft) {
    const std::string getf = "getf d0i2 01" + std::string(126, '0');
    struct Case {
        std::string devices;
        Lines answers;
    };
    const Case cases[] = {
        {"g12/removeafter=1",
         {"ok ", "err gone: reading the feature report failed",
          "err gone: cannot open 'sim#vid_0c45&pid_7030&mi_02#d0i2'"}},
        {"g12/noreply",
         {"err reading the feature report failed: the simulated device did not",
          "err reading the feature report failed", "err reading the feature"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.devices);
        auto sim = SimBackend::Create(c.devices, "");
        ASSERT_TRUE(sim.ok()) << sim.message();
        Lines got = Serve(**sim, {"list", getf, getf, getf});
        // Three interfaces and `end`, then the three answers.
        ASSERT_EQ(got.size(), 7u) << ::testing::PrintToString(got);
        const Lines answers(got.begin() + 4, got.end());
        for (std::size_t i = 0; i < answers.size(); ++i) {
            EXPECT_EQ(answers[i].rfind(c.answers[i], 0), 0u) << answers[i];
        }
        if (c.devices.find("noreply") != std::string::npos) {
            for (const auto& answer : answers) EXPECT_EQ(answer.find("gone"), std::string::npos);
        }
    }
}

TEST(BridgeServer, MakesRepeatedIdsUnique) {
    test::BridgeFakeHid fake;
    HidDeviceInfo first = Pad();
    HidDeviceInfo second = Pad();
    HidDeviceInfo odd = Pad();
    second.path = "other#vid_0c45&pid_70a0&mi_02#9";
    odd.path = "third#vid_0c45&pid_70a0&mi_02#";
    fake.Add(first);
    fake.Add(second);
    fake.Add(odd);
    fake.With(second.path, [](auto& d) { d.strings[2] = {0x22}; });
    Lines got = Serve(fake, {"list", "str 9~2 2"});
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].substr(0, 6), "dev 9 ");
    EXPECT_EQ(got[1].substr(0, 8), "dev 9~2 ");
    EXPECT_EQ(got[2].substr(0, 8), "dev dev ");
    EXPECT_EQ(got[4], "ok 22");
}

}  // namespace
}  // namespace qvm
