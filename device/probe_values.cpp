#include "device/probe_values.h"

#include <algorithm>

#include "device/command_table.h"

namespace qvm {

namespace {

// 9-byte interface: bytes of the information string.
constexpr std::string_view kShortSignature = "QZW";
constexpr std::size_t kShortSignatureAt = 2;
constexpr std::size_t kShortFirmwareAt = 5;
constexpr std::size_t kShortIdentByte4At = 7;
// ... of the model string.
constexpr std::size_t kModelCodeAt = 0;
constexpr std::size_t kModelClassAt = 1;
constexpr std::size_t kModelIdentByte3At = 2;
// ... of the status reply.
constexpr std::size_t kStatusIdentByte1At = 6;
constexpr std::size_t kStatusIdentByte2At = 8;

// 64-byte interface: bytes of the information string.
struct LongInfoLayout {
    static constexpr std::size_t kSignatureAt = 2;
    static constexpr std::size_t kGeneration = 4;
    static constexpr std::size_t kFirmware = 5;
    static constexpr std::size_t kIdentByte1 = 6;
    static constexpr std::size_t kModel = 7;
    static constexpr std::size_t kClass = 8;
    static constexpr std::size_t kIdentByte3 = 9;
    static constexpr std::size_t kIdentByte2 = 10;
    static constexpr std::size_t kFeatureFlags = 11;
    static constexpr std::size_t kExtendedLayout = 21;
};
constexpr std::string_view kLongSignature = "QZ";

// What a failed read of the 64-byte information string leaves behind.
struct DefaultByte {
    std::size_t at;
    uint8_t value;
};
constexpr DefaultByte kLongInfoDefaults[] = {
    {LongInfoLayout::kGeneration, 0},   {LongInfoLayout::kIdentByte1, 3},
    {LongInfoLayout::kModel, 3},        {LongInfoLayout::kClass, 0},
    {LongInfoLayout::kIdentByte3, 0},   {LongInfoLayout::kIdentByte2, 0x40},
    {LongInfoLayout::kFeatureFlags, 0},
};

// Model codes that fold into model 9, and on which interface.
struct ModelFold {
    int32_t code;
    bool longOnly;
};
constexpr ModelFold kModelFolds[] = {{12, false}, {13, false}, {14, true}};
constexpr int32_t kFoldedModel = 9;

constexpr int32_t kFirstLayoutFlagGeneration = 3;

// Records: four data bytes from reply byte 2, the first clamped.
constexpr std::size_t kRecordBytes = 4;
// Bytes 12 and 13 of the record answer the record-1 query of generation 11 and above.
constexpr std::size_t kRecord1At = 12;
constexpr std::array<uint8_t, 2> kExtendedRecord1 = {0x05, 0x04};

uint8_t ByteAt(const RawString& s, std::size_t at) {
    return s && at < s->size() ? (*s)[at] : 0;
}

bool Matches(const RawString& s, std::size_t at, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (ByteAt(s, at + i) != static_cast<uint8_t>(text[i])) return false;
    }
    return s.has_value();
}

}  // namespace

ShortIdentity ReadShortIdentity(const RawString& info) {
    ShortIdentity out;
    if (!info) return out;
    out.signatureOk = Matches(info, kShortSignatureAt, kShortSignature);
    out.firmware = ByteAt(info, kShortFirmwareAt);
    if (out.HasModelString()) out.identByte4 = ByteAt(info, kShortIdentByte4At);
    return out;
}

ModelString ReadModelString(const RawString& model) {
    ModelString out;
    if (!model) return out;
    out.modelCode = ByteAt(model, kModelCodeAt);
    out.deviceClass = ByteAt(model, kModelClassAt);
    out.identByte3 = ByteAt(model, kModelIdentByte3At);
    return out;
}

void ApplyShortValues(DeviceValues& values, const ShortIdentity& identity, const ModelString& model,
                      const DeviceInfo& info, const Frame& status) {
    values.ProtocolGeneration = 0;
    values.ModelCode = FoldModelCode(model.modelCode, false);
    values.FirmwareVersion = identity.firmware;
    values.DeviceClass = info.deviceClass;
    values.FeatureFlags = info.featureFlags;
    values.IdentByte1 = status[kStatusIdentByte1At];
    values.IdentByte2 = status[kStatusIdentByte2At];
    values.IdentByte3 = info.identByte3;
    values.IdentByte4 = identity.identByte4;
    values.ExtendedLayoutFlag = 0;
    values.ProductName.clear();
}

InfoString MakeLongInfoString(const RawString& raw) {
    InfoString out{};
    if (!raw) {
        for (const DefaultByte& d : kLongInfoDefaults) out[d.at] = d.value;
        return out;
    }
    std::copy_n(raw->begin(), std::min(raw->size(), out.size()), out.begin());
    return out;
}

bool LongSignatureOk(const InfoString& info) {
    return std::equal(kLongSignature.begin(), kLongSignature.end(),
                      info.begin() + LongInfoLayout::kSignatureAt,
                      [](char c, uint8_t b) { return static_cast<uint8_t>(c) == b; });
}

int32_t LongDeviceClass(const InfoString& info) {
    return info[LongInfoLayout::kClass];
}

void ApplyLongValues(DeviceValues& values, const InfoString& info) {
    using L = LongInfoLayout;
    values.ProtocolGeneration = info[L::kGeneration];
    values.ModelCode = FoldModelCode(info[L::kModel], true);
    values.FirmwareVersion = info[L::kFirmware];
    values.DeviceClass = info[L::kClass];
    values.FeatureFlags = info[L::kFeatureFlags];
    values.IdentByte1 = info[L::kIdentByte1];
    values.IdentByte2 = info[L::kIdentByte2];
    values.IdentByte3 = info[L::kIdentByte3];
    values.IdentByte4 = 0;
    values.ExtendedLayoutFlag =
        ExtendedLayoutOf(values.ProtocolGeneration, info[L::kExtendedLayout]);
    values.ProductName.clear();
}

int32_t FoldModelCode(int32_t code, bool longInterface) {
    for (const ModelFold& f : kModelFolds) {
        if (f.code == code && (longInterface || !f.longOnly)) return kFoldedModel;
    }
    return code;
}

int32_t ExtendedLayoutOf(int32_t generation, uint8_t infoByte21) {
    if (generation >= kFirstExtendedGeneration) return 1;
    if (generation >= kFirstLayoutFlagGeneration) return infoByte21;
    return 0;
}

void StoreRecord(InfoRecord& record, int r, const Frame& reply) {
    if (r < 0 || r >= kRecordCount) return;
    const std::size_t at = kRecordBase + kRecordBytes * static_cast<std::size_t>(r);
    for (std::size_t i = 0; i < kRecordBytes; ++i) record[at + i] = reply[kReplyDataAt + i];
    if (record[at] > kRecordFirstMax) record[at] = 1;
}

void StoreInfoPage(InfoRecord& record, int wordOffset, const Frame& reply) {
    if (wordOffset < 0) return;
    const std::size_t at = 2 * static_cast<std::size_t>(wordOffset);
    for (std::size_t i = 0; i < kInfoPageDataBytes && at + i < record.size(); ++i) {
        record[at + i] = reply[kReplyDataAt + i];
    }
}

void SetExtendedRecordDefaults(InfoRecord& record) {
    std::copy(kExtendedRecord1.begin(), kExtendedRecord1.end(), record.begin() + kRecord1At);
}

bool IsKeyboardSerial(std::string_view serial) {
    return std::find(kKeyboardSerials.begin(), kKeyboardSerials.end(), serial) !=
           kKeyboardSerials.end();
}

void ApplyKeyboardValues(DeviceValues& values, const KeyboardReport& reply,
                         const std::string& product) {
    uint32_t firmware = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        firmware |= static_cast<uint32_t>(reply[kKeyboardFirmwareByte + i]) << (8 * i);
    }
    values.ProtocolGeneration = 0;
    values.ModelCode = kKeyboardModelCode;
    values.FirmwareVersion = firmware;
    values.DeviceClass = 0;
    values.FeatureFlags = 0;
    values.IdentByte1 = 0;
    values.IdentByte2 = 0;
    values.IdentByte3 = product.find(kKeyboardVariantText) != std::string::npos ? 1 : 0;
    values.IdentByte4 = 0;
    values.ExtendedLayoutFlag = 0;
    values.InfoPages.reset();
    values.ProductName = product;
}

}  // namespace qvm
