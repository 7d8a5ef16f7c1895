#include "net/remote_lists.h"

#include <algorithm>

#include "config/image_layout.h"

namespace qvm::remote {

namespace {

StreamPacket ListPacket(ListType type) {
    StreamPacket packet{};
    std::copy(kCommandMagic.begin(), kCommandMagic.end(), packet.begin());
    PutField(packet, stream::kKind, static_cast<uint32_t>(StreamKind::List));
    PutField(packet, stream::kListType, static_cast<uint32_t>(type));
    return packet;
}

// An entry's field moved to the entry's place in the packet.
Field At(std::size_t entryOffset, Field field) {
    return {entryOffset + field.offset, field.size};
}

// Names keep a terminating zero inside their field.
std::size_t NameUnits(const ListEntryLayout& layout) {
    return layout.name.size / 2 - 1;
}

std::vector<NamedCode> Indexed(std::span<const std::string> names) {
    std::vector<NamedCode> entries;
    entries.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        entries.push_back({static_cast<int32_t>(i), names[i]});
    }
    return entries;
}

std::vector<StreamPacket> BuildPairList(std::span<const std::array<uint8_t, 2>> pairs) {
    std::vector<StreamPacket> packets;
    std::size_t next = 0;
    do {
        StreamPacket packet = ListPacket(ListType::ButtonPairs);
        const std::size_t count = std::min(pairs.size() - next, lists::kPairsPerPacket);
        PutField(packet, lists::kPairCount, static_cast<uint32_t>(count));
        for (std::size_t i = 0; i < count; ++i) {
            packet[lists::kPairsAt + 2 * i] = pairs[next + i][0];
            packet[lists::kPairsAt + 2 * i + 1] = pairs[next + i][1];
        }
        next += count;
        packets.push_back(packet);
    } while (next < pairs.size());
    return packets;
}

void Append(std::vector<StreamPacket>& to, const std::vector<StreamPacket>& packets) {
    to.insert(to.end(), packets.begin(), packets.end());
}

}  // namespace

std::vector<StreamPacket> BuildNamedCodeList(ListType type, const ListEntryLayout& layout,
                                             std::span<const NamedCode> entries) {
    std::vector<StreamPacket> packets;
    std::size_t next = 0;
    do {
        StreamPacket packet = ListPacket(type);
        for (std::size_t slot = 0; slot < layout.perPacket && next < entries.size();
             ++slot, ++next) {
            const std::size_t at = stream::kListBodyAt + slot * layout.size;
            if (layout.marked) packet[at] = 1;
            PutField(packet, At(at, layout.code), static_cast<uint32_t>(entries[next].code));
            PutText(packet, At(at, layout.name), entries[next].name, NameUnits(layout));
        }
        packets.push_back(packet);
    } while (next < entries.size());
    return packets;
}

std::vector<StreamPacket> BuildConnectionLists(const RemoteListSource& source) {
    std::vector<StreamPacket> packets;
    Append(packets, BuildNamedCodeList(ListType::KeyNames, lists::kKeyName, source.keyNames));
    Append(packets,
           BuildNamedCodeList(ListType::ConsumerKeys, lists::kConsumerKey, source.consumerKeys));
    Append(packets, BuildNamedCodeList(ListType::FunctionTypes, lists::kIndexedName,
                                       Indexed(source.functionTypes)));
    Append(packets, BuildNamedCodeList(ListType::MouseFunctions, lists::kIndexedName,
                                       Indexed(source.mouseFunctions)));
    Append(packets, BuildPairList(source.buttonPairs));
    const auto classes =
        std::span(source.functionClasses)
            .first(std::min(source.functionClasses.size(), lists::kFunctionClassCount));
    Append(packets,
           BuildNamedCodeList(ListType::FunctionClasses, lists::kClassName, Indexed(classes)));
    Append(packets, BuildNamedCodeList(ListType::AxisLocks, lists::kClassName, source.axisLocks));
    std::vector<std::string> words = source.companionWords;
    words.resize(lists::kCompanionWordCount);
    Append(packets, BuildNamedCodeList(ListType::CompanionWords, lists::kWord, Indexed(words)));
    return packets;
}

std::optional<StreamPacket> BuildKeyCyclePacket(std::span<const uint8_t> keyCycleBytes) {
    const int count = keyCycleBytes.empty() ? 0 : keyCycleBytes[0];
    if (count >= lists::kKeyCycleLimit) return std::nullopt;
    StreamPacket packet = ListPacket(ListType::KeyCycle);
    PutField(packet, lists::kKeyCycleCount, static_cast<uint32_t>(count));
    // The pairs the stored list holds; a count past them sends zeros for the rest.
    for (std::size_t i = 0; i < 2 * static_cast<std::size_t>(count); ++i) {
        const std::size_t from = kKeyCycleEntriesAt + i;
        packet[lists::kKeyCyclePairsAt + i] = from < keyCycleBytes.size() ? keyCycleBytes[from] : 0;
    }
    return packet;
}

std::vector<StreamPacket> BuildFavouritePackets(std::span<const FavouriteFunction> items) {
    std::vector<StreamPacket> packets{ListPacket(ListType::FavouritesStart)};
    for (std::size_t i = 0; i < items.size(); ++i) {
        StreamPacket packet = ListPacket(ListType::Favourite);
        std::copy(items[i].function.begin(), items[i].function.end(),
                  packet.begin() + lists::kFavouriteFunction.offset);
        PutField(packet, lists::kFavouriteClass, items[i].function[0]);
        PutText(packet, lists::kFavouriteIndex, std::to_string(i),
                lists::kFavouriteIndex.size / 2 - 1);
        PutText(packet, lists::kFavouriteName, items[i].name, lists::kFavouriteName.size / 2 - 1);
        packets.push_back(packet);
    }
    return packets;
}

std::vector<NamedCode> DecodeNamedCodeList(std::span<const uint8_t> packet,
                                           const ListEntryLayout& layout) {
    std::vector<NamedCode> entries;
    for (std::size_t slot = 0; slot < layout.perPacket; ++slot) {
        const std::size_t at = stream::kListBodyAt + slot * layout.size;
        if (layout.marked && GetField(packet, {at, 1}) != 1) continue;
        NamedCode entry{static_cast<int32_t>(GetField(packet, At(at, layout.code))),
                        GetText(packet, At(at, layout.name))};
        if (!layout.marked && entry.code == 0 && entry.name.empty()) continue;
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace qvm::remote
