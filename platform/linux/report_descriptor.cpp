#include "platform/linux/report_descriptor.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qvm {
namespace {

// Item prefix byte: bits 0-1 data size code, bits 2-3 item type, bits 4-7 tag.
constexpr uint8_t kSizeMask = 0x03;
constexpr int kTypeShift = 2;
constexpr uint8_t kTypeMask = 0x03;
constexpr int kTagShift = 4;
constexpr std::array<size_t, 4> kShortDataSize = {0, 1, 2, 4};
constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr size_t kLongItemHeader = 3;  // prefix, data size, long tag

enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

enum MainTag : uint8_t {
    kInput = 0x8,
    kOutput = 0x9,
    kCollection = 0xA,
    kFeature = 0xB,
    kEndCollection = 0xC,
};

enum GlobalTag : uint8_t {
    kUsagePage = 0x0,
    kReportSize = 0x7,
    kReportId = 0x8,
    kReportCount = 0x9,
    kPush = 0xA,
    kPop = 0xB,
    kLastGlobalTag = kPop,
};

enum LocalTag : uint8_t { kUsage = 0x0 };

constexpr uint32_t kApplicationCollection = 0x01;
constexpr uint32_t kMaxReportId = 0xFF;
constexpr int kExtendedUsagePageShift = 16;
constexpr uint32_t kUsageMask = 0xFFFF;
// Bounds that keep a hostile descriptor from driving the parser into huge allocations; real
// devices stay far below them. A report can be at most as long as the kernel's report buffer.
constexpr size_t kMaxGlobalStackDepth = 16;
constexpr int kMaxCollectionDepth = 64;
constexpr uint32_t kMaxReportSizeBits = 256;
constexpr uint64_t kMaxReportBytes = 16384;
constexpr int kBitsPerByte = 8;

// The report kinds, indexing the per-kind length tables.
enum ReportKind { kInputReport, kOutputReport, kFeatureReport, kReportKindCount };

struct Item {
    size_t offset = 0;
    uint8_t type = 0;
    uint8_t tag = 0;
    size_t size = 0;
    uint32_t data = 0;
};

struct GlobalState {
    uint32_t usagePage = 0;
    uint32_t reportSize = 0;
    uint32_t reportId = 0;
    uint32_t reportCount = 0;
};

Error ErrorAt(size_t offset, const std::string& what) {
    return MakeError("report descriptor: " + what + " at byte " + std::to_string(offset));
}

class Parser {
  public:
    Result<ReportDescriptorInfo> Run(std::span<const uint8_t> bytes);

  private:
    Status Main(const Item& item);
    Status Global(const Item& item);
    void Local(const Item& item);
    Status AddReportBits(const Item& item, ReportKind kind);
    int LengthOf(ReportKind kind) const;

    GlobalState global_;
    std::vector<GlobalState> globalStack_;
    // First Usage item since the last main item, and whether it carried its own page.
    std::optional<uint32_t> firstUsage_;
    bool firstUsageExtended_ = false;
    int depth_ = 0;
    bool applicationSeen_ = false;
    bool insideApplication_ = false;
    bool sawReportWithoutId_ = false;
    bool usesReportIds_ = false;
    HidCaps caps_;
    // Bits per (kind, report ID) inside the first application collection.
    std::map<std::pair<int, uint32_t>, uint64_t> reportBits_;
};

Result<ReportDescriptorInfo> Parser::Run(std::span<const uint8_t> bytes) {
    size_t pos = 0;
    while (pos < bytes.size()) {
        const uint8_t prefix = bytes[pos];
        if (prefix == kLongItemPrefix) {
            // Long items carry no information this parser needs; only their bounds matter.
            if (bytes.size() - pos < kLongItemHeader) return ErrorAt(pos, "truncated long item");
            const size_t dataSize = bytes[pos + 1];
            if (bytes.size() - pos - kLongItemHeader < dataSize) {
                return ErrorAt(pos, "truncated long item");
            }
            pos += kLongItemHeader + dataSize;
            continue;
        }
        Item item;
        item.offset = pos;
        item.type = (prefix >> kTypeShift) & kTypeMask;
        item.tag = prefix >> kTagShift;
        item.size = kShortDataSize[prefix & kSizeMask];
        if (bytes.size() - pos - 1 < item.size) return ErrorAt(pos, "truncated item");
        for (size_t i = 0; i < item.size; ++i) {
            item.data |= static_cast<uint32_t>(bytes[pos + 1 + i]) << (kBitsPerByte * i);
        }
        pos += 1 + item.size;

        Status status;
        switch (item.type) {
            case kMain:
                status = Main(item);
                break;
            case kGlobal:
                status = Global(item);
                break;
            case kLocal:
                Local(item);
                break;
            default:
                status = ErrorAt(item.offset, "reserved item type");
        }
        if (!status) return status.error();
    }
    if (depth_ != 0) return ErrorAt(bytes.size(), "collection not closed");
    if (!applicationSeen_) return ErrorAt(bytes.size(), "no application collection");

    ReportDescriptorInfo info;
    info.caps = caps_;
    info.caps.inputLength = LengthOf(kInputReport);
    info.caps.outputLength = LengthOf(kOutputReport);
    info.caps.featureLength = LengthOf(kFeatureReport);
    info.usesReportIds = usesReportIds_;
    return info;
}

Status Parser::Main(const Item& item) {
    Status status;
    switch (item.tag) {
        case kInput:
            status = AddReportBits(item, kInputReport);
            break;
        case kOutput:
            status = AddReportBits(item, kOutputReport);
            break;
        case kFeature:
            status = AddReportBits(item, kFeatureReport);
            break;
        case kCollection:
            if (depth_ == kMaxCollectionDepth) {
                status = ErrorAt(item.offset, "collections nested too deep");
                break;
            }
            if (depth_ == 0 && item.data == kApplicationCollection && !applicationSeen_) {
                applicationSeen_ = true;
                insideApplication_ = true;
                const uint32_t usage = firstUsage_.value_or(0);
                caps_.usage = static_cast<uint16_t>(usage & kUsageMask);
                caps_.usagePage = static_cast<uint16_t>(
                    firstUsageExtended_ ? usage >> kExtendedUsagePageShift : global_.usagePage);
            }
            ++depth_;
            break;
        case kEndCollection:
            if (depth_ == 0) {
                status = ErrorAt(item.offset, "end of collection without a collection");
                break;
            }
            if (--depth_ == 0) insideApplication_ = false;
            break;
        default:
            status = ErrorAt(item.offset, "unknown main item");
    }
    // Local items describe only the next main item.
    firstUsage_.reset();
    firstUsageExtended_ = false;
    return status;
}

Status Parser::AddReportBits(const Item& item, ReportKind kind) {
    if (global_.reportId == 0) {
        sawReportWithoutId_ = true;
    }
    if (sawReportWithoutId_ && usesReportIds_) {
        return ErrorAt(item.offset, "reports both with and without report IDs");
    }
    const uint64_t bits = uint64_t{global_.reportSize} * global_.reportCount;
    if (!insideApplication_ || bits == 0) return {};
    uint64_t& total = reportBits_[{kind, global_.reportId}];
    total += bits;
    if (total > kMaxReportBytes * kBitsPerByte) return ErrorAt(item.offset, "report too long");
    return {};
}

Status Parser::Global(const Item& item) {
    switch (item.tag) {
        case kUsagePage:
            global_.usagePage = item.data & kUsageMask;
            break;
        case kReportSize:
            if (item.data > kMaxReportSizeBits) return ErrorAt(item.offset, "report size too big");
            global_.reportSize = item.data;
            break;
        case kReportId:
            if (item.data == 0 || item.data > kMaxReportId) {
                return ErrorAt(item.offset, "invalid report ID " + std::to_string(item.data));
            }
            if (sawReportWithoutId_) {
                return ErrorAt(item.offset, "reports both with and without report IDs");
            }
            global_.reportId = item.data;
            usesReportIds_ = true;
            break;
        case kReportCount:
            global_.reportCount = item.data;
            break;
        case kPush:
            if (globalStack_.size() == kMaxGlobalStackDepth) {
                return ErrorAt(item.offset, "push nested too deep");
            }
            globalStack_.push_back(global_);
            break;
        case kPop:
            if (globalStack_.empty()) return ErrorAt(item.offset, "pop without push");
            global_ = globalStack_.back();
            globalStack_.pop_back();
            break;
        default:
            // Logical and physical ranges, units and exponents do not affect lengths.
            if (item.tag > kLastGlobalTag) return ErrorAt(item.offset, "unknown global item");
    }
    return {};
}

void Parser::Local(const Item& item) {
    // Only the first usage names a collection; other local items (usage ranges,
    // designators, strings, delimiters) do not affect what this parser reports.
    if (item.tag == kUsage && !firstUsage_) {
        firstUsage_ = item.data;
        firstUsageExtended_ = item.size == kShortDataSize.back();
    }
}

int Parser::LengthOf(ReportKind kind) const {
    uint64_t longest = 0;
    for (const auto& [key, bits] : reportBits_) {
        if (key.first == kind) longest = std::max(longest, bits);
    }
    if (longest == 0) return 0;
    return static_cast<int>(1 + (longest + kBitsPerByte - 1) / kBitsPerByte);
}

}  // namespace

Result<ReportDescriptorInfo> ParseReportDescriptor(std::span<const uint8_t> descriptor) {
    return Parser().Run(descriptor);
}

}  // namespace qvm
