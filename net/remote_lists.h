// The list packets of the status stream: the name tables a companion needs to show
// button functions in the user's language (types 1 to 8, sent once at connection), the
// key-cycle list of the current profile (type 9) and the favourite functions (type 11
// then one type 10 per item). All are 400-byte packets of kind List whose body starts at
// byte 4; a table longer than one packet continues in the next packet of the same type.
//
// The tables pass in as plain data; the entry layouts are the tables of fields below.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/remote_packets.h"

namespace qvm::remote {

enum class ListType : uint8_t {
    KeyNames = 1,
    ConsumerKeys = 2,
    FunctionTypes = 3,
    MouseFunctions = 4,
    ButtonPairs = 5,
    FunctionClasses = 6,
    AxisLocks = 7,
    CompanionWords = 8,
    KeyCycle = 9,
    Favourite = 10,
    FavouritesStart = 11,
};

// The layout of one kind of list entry: its size, how many fit a packet, and where its
// code and its UTF-16LE name lie inside the entry. A "marked" entry opens with the byte 1
// (an entry present), then its code byte.
struct ListEntryLayout {
    std::size_t size = 0;
    std::size_t perPacket = 0;
    Field code;  // size 0: the entry has no code
    Field name;
    bool marked = false;
};

namespace lists {
// Type 1: code byte, then the name (17 characters and a terminating zero).
inline constexpr ListEntryLayout kKeyName{37, 10, {0, 1}, {1, 36}, false};
// Type 2: the 16-bit consumer usage, then the name.
inline constexpr ListEntryLayout kConsumerKey{38, 10, {0, 2}, {2, 36}, false};
// Types 3 and 4: 1, the table index, then the name (37 characters and a zero).
inline constexpr ListEntryLayout kIndexedName{78, 5, {1, 1}, {2, 76}, true};
// Types 6 and 7: 1, the class index or the function code, then the name.
inline constexpr ListEntryLayout kClassName{38, 7, {1, 1}, {2, 36}, true};
// Type 8: the nine words, each a name of 21 characters and a zero.
inline constexpr ListEntryLayout kWord{44, 9, {0, 0}, {0, 44}, false};
// Type 5: the count, then one byte pair per entry.
inline constexpr Field kPairCount{4, 1};
inline constexpr std::size_t kPairsAt = 5;
inline constexpr std::size_t kPairsPerPacket = (kStreamPacketSize - kPairsAt) / 2;
// Type 9: the count, a zero, then (modifiers, usage) pairs from byte 6. Sent only while
// the count is below kKeyCycleLimit.
inline constexpr Field kKeyCycleCount{4, 1};
inline constexpr std::size_t kKeyCyclePairsAt = 6;
inline constexpr int kKeyCycleLimit = 13;
// Type 10: the function bytes, the class byte again, the item's index as decimal text,
// the item's name.
inline constexpr Field kFavouriteFunction{4, 4};
inline constexpr Field kFavouriteClass{8, 1};
inline constexpr Field kFavouriteIndex{10, 20};
inline constexpr Field kFavouriteName{320, 80};
inline constexpr std::size_t kFunctionClassCount = 7;
inline constexpr std::size_t kCompanionWordCount = 9;
}  // namespace lists

// One named entry of a list: its code (key usage, table index, function code) and name.
struct NamedCode {
    int32_t code = 0;
    std::string name;  // UTF-8
    bool operator==(const NamedCode&) const = default;
};

// An item of the favourite function list.
struct FavouriteFunction {
    std::array<uint8_t, 4> function{};  // class (function type), then three parameters
    std::string name;
};

// The tables the list packets are made of, in the current language.
struct RemoteListSource {
    std::vector<NamedCode> keyNames;                  // the keyboard key table, in table order
    std::vector<NamedCode> consumerKeys;              // up to (not including) the terminator row
    std::vector<std::string> functionTypes;           // type_str, index = position
    std::vector<std::string> mouseFunctions;          // mouse_str
    std::vector<std::array<uint8_t, 2>> buttonPairs;  // the model's two parallel tables
    std::vector<std::string> functionClasses;         // class_str; the first seven are sent
    std::vector<NamedCode> axisLocks;                 // "Lock X-axis", "Lock Y-axis" and codes
    // "OK", "Cancel", "Button settings", "Virtual Key", the launch text, "Exit program ?",
    // "Close connection ?", "PIN number", "PIN error !"; missing ones are sent empty.
    std::vector<std::string> companionWords;
};

// The packets of one list type; at least one packet, even for an empty table.
std::vector<StreamPacket> BuildNamedCodeList(ListType type, const ListEntryLayout& layout,
                                             std::span<const NamedCode> entries);
// Types 1 to 8 in order, as a companion receives them when it connects.
std::vector<StreamPacket> BuildConnectionLists(const RemoteListSource& source);

// Type 9 from the 21 stored bytes of the current profile's key-cycle list (count byte,
// then pairs); nothing when the count byte is kKeyCycleLimit or more.
std::optional<StreamPacket> BuildKeyCyclePacket(std::span<const uint8_t> keyCycleBytes);

// Type 11, then one type 10 per item.
std::vector<StreamPacket> BuildFavouritePackets(std::span<const FavouriteFunction> items);

// Reads the entries of one list packet back (the companion's side): entries whose name
// and code are both empty are the unused rest of the packet and are skipped.
std::vector<NamedCode> DecodeNamedCodeList(std::span<const uint8_t> packet,
                                           const ListEntryLayout& layout);

}  // namespace qvm::remote
