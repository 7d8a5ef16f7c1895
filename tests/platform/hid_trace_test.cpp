// The exchange trace: the lines an exchange writes, reading them back, damaged lines,
// and a trace file that cannot be written.
#include "platform/hid_trace.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "support/fake_clock.h"
#include "support/fake_hid.h"
#include "support/small_tmpfs.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

using test::Bytes;

constexpr const char* kTracedPath = "sim#vid_0c45&pid_7040&mi_01#d0i1";

std::vector<std::string> LinesOf(const std::string& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct TracedRig {
    test::TempFolder folder;
    test::FakeClock clock;
    std::vector<std::string> notes;
    std::string file = folder.File("t.trace");
    std::shared_ptr<TraceLog> log;
    test::FakeHidBackend* fake = nullptr;
    std::unique_ptr<HidBackend> backend;

    explicit TracedRig(std::string traceFile = "") {
        if (!traceFile.empty()) file = traceFile;
        log = std::make_shared<TraceLog>(
            file, "test", [this](const std::string& m) { notes.push_back(m); }, clock);
        auto inner = std::make_unique<test::FakeHidBackend>();
        fake = inner.get();
        backend = TraceBackend(std::move(inner), log);
    }
};

TEST(HidTrace, AnExchangeWritesTheseLines) {
    TracedRig rig;
    test::FakeHidDevice& device = rig.fake->Add(kTracedPath, test::ShortCaps());
    device.SetReply({0x00, 0x00, 0xAB, 0xCD});
    auto handle = rig.backend->Open(kTracedPath);
    ASSERT_TRUE(handle) << handle.message();

    const Bytes request{0x00, 0x05, 0x00, 0x00, 0x01, 0x00, 0x00, 0x12, 0x16};
    std::array<uint8_t, 9> reply{};
    ASSERT_TRUE((*handle)->GetFeature(reply));  // the device is idle
    rig.clock.SleepMs(1);
    ASSERT_TRUE((*handle)->SetFeature(request));
    rig.clock.SleepMs(12);
    ASSERT_TRUE((*handle)->GetFeature(reply));
    device.RefuseSets(1);
    EXPECT_FALSE((*handle)->SetFeature(request));
    device.QueueInput({0x04, 0x01, 0x02});
    std::array<uint8_t, 8> input{};
    ASSERT_EQ((*handle)->Read(input, 0), 3);
    EXPECT_EQ((*handle)->Read(input, 0), 0);  // nothing arrived: no line
    device.Unplug();
    EXPECT_FALSE((*handle)->GetFeature(reply));

    const std::vector<std::string> lines = LinesOf(rig.file);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_TRUE(lines[0].starts_with("# qvm-trace 1 start=20")) << lines[0];
    EXPECT_TRUE(lines[0].ends_with("Z program=test")) << lines[0];
    const std::vector<std::string> expected{
        "0.000 < getf sim#vid_0c45&pid_7040&mi_01#d0i1 0000abcd0000000000",
        "1.000 > setf sim#vid_0c45&pid_7040&mi_01#d0i1 000500000100001216",
        "13.000 < getf sim#vid_0c45&pid_7040&mi_01#d0i1 0000abcd0000000000",
        "13.000 > setf sim#vid_0c45&pid_7040&mi_01#d0i1 000500000100001216 failed",
        "13.000 < read sim#vid_0c45&pid_7040&mi_01#d0i1 040102",
        "13.000 < getf sim#vid_0c45&pid_7040&mi_01#d0i1 - gone",
    };
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), expected);
    EXPECT_TRUE(rig.notes.empty());
}

TEST(HidTrace, DamagedLinesAreRefusedWithTheReason) {
    const struct {
        const char* line;
        const char* why;
    } cases[] = {
        {"12.000 > setf sim#vid_0c45", "too few fields"},
        {"twelve > setf p 0011", "not a number"},
        {"-1 > setf p 0011", "not a number"},
        {"1e300 > setf p 0011", "not a number"},
        {"1.0 = setf p 0011", "direction"},
        {"1.0 > poke p 0011", "unknown kind"},
        {"1.0 > setf p 0g11", "not hexadecimal"},
        {"1.0 > setf p 001", "not hexadecimal"},
        {"1.0 > setf p 0011 exploded", "unknown field"},
        {"1.0 < str p 41 idx=x", "unknown field"},
    };
    for (const auto& c : cases) {
        auto parsed = ParseTraceLine(c.line);
        ASSERT_FALSE(parsed) << c.line;
        EXPECT_EQ(parsed.kind(), ErrorKind::BadInput) << c.line;
        EXPECT_NE(parsed.message().find(c.why), std::string::npos)
            << c.line << ": " << parsed.message();
    }
    for (const char* notARecord : {"", "   ", "# qvm-trace 1 start=x program=y"}) {
        auto parsed = ParseTraceLine(notARecord);
        ASSERT_TRUE(parsed) << notARecord;
        EXPECT_FALSE(*parsed) << notARecord;
    }
}

TEST(HidTrace, AFullDiskStopsTracingButNotTheExchanges) {
    test::TempFolder folder;
    test::SmallTmpfs disk(folder.File("disk"), 64 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << disk.Why();
    TracedRig rig(disk.path() + "/t.trace");
    test::FakeHidDevice& device = rig.fake->Add(kTracedPath, test::LongCaps());
    auto handle = rig.backend->Open(kTracedPath);
    ASSERT_TRUE(handle);
    const Bytes request(64, 0x5A);
    ASSERT_TRUE((*handle)->SetFeature(request));  // the file exists and has a line
    disk.Fill();
    for (int i = 0; i < 200; ++i) ASSERT_TRUE((*handle)->SetFeature(request));
    EXPECT_EQ(device.Count(test::HidOp::Kind::SetFeature), 201);
    ASSERT_EQ(rig.notes.size(), 1u);
    EXPECT_NE(rig.notes[0].find("No space"), std::string::npos) << rig.notes[0];
    EXPECT_TRUE(rig.log->Stopped());
    // What was written stays whole lines: no line is cut where the disk ended.
    auto trace = ReadTraceFile(rig.file);
    ASSERT_TRUE(trace) << trace.message();
    EXPECT_GE(trace->records.size(), 1u);
    EXPECT_TRUE(trace->damaged.empty()) << trace->damaged.front().text;
}

TEST(HidTrace, LinesOfSeveralThreadsNeverInterleave) {
    TracedRig rig;
    constexpr int kThreads = 4;
    constexpr int kEach = 200;
    std::vector<std::string> paths;
    for (int t = 0; t < kThreads; ++t) {
        paths.push_back("sim#vid_0c45&pid_7040&mi_01#d" + std::to_string(t) + "i1");
        rig.fake->Add(paths.back(), test::LongCaps());
    }
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&rig, &paths, t] {
                auto handle = rig.backend->Open(paths[t]);
                ASSERT_TRUE(handle);
                const Bytes request(64, static_cast<uint8_t>(t));
                for (int i = 0; i < kEach; ++i) (*handle)->SetFeature(request);
            });
        }
    }
    auto trace = ReadTraceFile(rig.file);
    ASSERT_TRUE(trace) << trace.message();
    EXPECT_TRUE(trace->damaged.empty());
    ASSERT_EQ(trace->records.size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(trace->headers.size(), 1u);
    for (const TraceRecord& record : trace->records) {
        EXPECT_EQ(record.bytes, Bytes(64, record.bytes[0]));
    }
}

}  // namespace
}  // namespace qvm
