// MemoryCache: which bytes may be served, and to whom.
#include "device/memory_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

struct Step {
    enum Kind { Activate, Update, Read } kind;
    std::string path;
    uint32_t address = 0;
    Bytes bytes;         // Update: data; Read: expected data when it succeeds
    bool flag = true;    // Activate: enable; Update: valid
    bool expect = true;  // Update / Read result
};

struct CacheCase {
    const char* name;
    std::vector<Step> steps;
};

class CacheRules : public ::testing::TestWithParam<CacheCase> {};

TEST_P(CacheRules, ServesOnlyValidBytesOfTheCachedDevice) {
    MemoryCache cache;
    int index = 0;
    for (const Step& s : GetParam().steps) {
        SCOPED_TRACE("step " + std::to_string(index++));
        switch (s.kind) {
            case Step::Activate:
                cache.Activate(s.path, s.flag);
                break;
            case Step::Update:
                EXPECT_EQ(cache.Update(s.path, s.address, s.bytes, s.flag), s.expect);
                break;
            case Step::Read: {
                Bytes out(s.bytes.size(), 0xEE);
                ASSERT_EQ(cache.Read(s.path, s.address, out), s.expect);
                if (s.expect) {
                    EXPECT_EQ(out, s.bytes);
                }
                break;
            }
        }
    }
}

const std::string A = "hid#a";
const std::string B = "hid#b";

INSTANTIATE_TEST_SUITE_P(
    MemoryCache, CacheRules,
    ::testing::Values(CacheCase{"OtherPathNeverServedNorStored",
                                {{Step::Activate, A},
                                 {Step::Update, A, 100, {1, 2}},
                                 {Step::Read, B, 100, {1, 2}, true, false},
                                 {Step::Update, B, 200, {9}, true, false},
                                 {Step::Read, A, 200, {9}, true, false}}},
                      CacheCase{"DisabledCacheServesNothing",
                                {{Step::Activate, A, 0, {}, false},
                                 {Step::Update, A, 100, {1, 2}},
                                 {Step::Read, A, 100, {1, 2}, true, false}}},
                      CacheCase{"HeaderBelow32NeverValid",
                                {{Step::Activate, A},
                                 {Step::Update, A, 30, {7, 8, 9, 10}},
                                 {Step::Read, A, 32, {9, 10}},
                                 {Step::Read, A, 31, {8}, true, false},
                                 {Step::Read, A, 30, {7, 8, 9, 10}, true, false}}},
                      CacheCase{"HostWritesAreStoredInvalid",
                                {{Step::Activate, A},
                                 {Step::Update, A, 100, {1, 2, 3, 4}},
                                 {Step::Update, A, 101, {5, 6}, false},
                                 {Step::Read, A, 100, {1, 5, 6, 4}, true, false},
                                 {Step::Read, A, 103, {4}},
                                 {Step::Update, A, 101, {5, 6}},
                                 {Step::Read, A, 100, {1, 5, 6, 4}}}},
                      CacheCase{"ActivateForgetsEverything",
                                {{Step::Activate, A},
                                 {Step::Update, A, 100, {1, 2}},
                                 {Step::Activate, A},
                                 {Step::Read, A, 100, {1, 2}, true, false}}},
                      CacheCase{"UpdatesPast69999RefusedInsideKept",
                                {{Step::Activate, A},
                                 {Step::Update, A, 69998, {1, 2, 3, 4}, true, false},
                                 {Step::Read, A, 69998, {1, 2}},
                                 {Step::Read, A, 69999, {2, 0}, true, false},
                                 {Step::Update, A, 70000, {5}, true, false},
                                 {Step::Update, A, 0xFFFFFFFF, {5, 6}, true, false}}},
                      CacheCase{"RefusedWriteStillInvalidatesInsideBytes",
                                {{Step::Activate, A},
                                 {Step::Update, A, 69990, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
                                 {Step::Update, A, 69995, Bytes(10, 2), false, false},
                                 {Step::Read, A, 69995, {1}, true, false},
                                 {Step::Read, A, 69990, {1, 1, 1, 1, 1}}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
