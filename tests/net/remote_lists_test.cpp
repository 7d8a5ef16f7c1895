// The list packets of the status stream: tables spread over as many packets as they
// need, every entry at its place, and the favourite and key-cycle packets.
#include "net/remote_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config_image.h"
#include "lang/ui_strings.h"
#include "net/remote_status_source.h"

namespace qvm::remote {
namespace {

std::vector<NamedCode> Numbered(int count) {
    std::vector<NamedCode> entries;
    for (int i = 0; i < count; ++i) entries.push_back({i + 4, "key " + std::to_string(i)});
    return entries;
}

struct ListCase {
    const char* what;
    ListEntryLayout layout;
    int entries;
    std::size_t packets;
    std::size_t inLast;
};

TEST(RemoteLists, TablesFillAsManyPacketsAsTheyNeed) {
    const std::vector<ListCase> cases = {
        {"key names, 10 a packet", lists::kKeyName, 23, 3, 3},
        {"exactly full", lists::kKeyName, 20, 2, 10},
        {"empty table: one empty packet", lists::kKeyName, 0, 1, 0},
        {"consumer keys", lists::kConsumerKey, 11, 2, 1},
        {"type names, 5 a packet", lists::kIndexedName, 41, 9, 1},
        {"classes, 7 in one", lists::kClassName, 7, 1, 7},
    };
    for (const ListCase& c : cases) {
        const auto entries = Numbered(c.entries);
        const auto packets = BuildNamedCodeList(ListType::KeyNames, c.layout, entries);
        ASSERT_EQ(packets.size(), c.packets) << c.what;
        std::vector<NamedCode> back;
        for (const StreamPacket& packet : packets) {
            EXPECT_EQ(packet[2], 0) << c.what;
            EXPECT_EQ(packet[3], 1) << c.what;
            const auto part = DecodeNamedCodeList(packet, c.layout);
            back.insert(back.end(), part.begin(), part.end());
        }
        EXPECT_EQ(DecodeNamedCodeList(packets.back(), c.layout).size(), c.inLast) << c.what;
        EXPECT_EQ(back, entries) << c.what;
    }
}

TEST(RemoteLists, KeyNameEntryBytes) {
    const std::vector<NamedCode> keys = {{0x04, "A"}, {0x05, std::string(30, 'b')}};
    const StreamPacket p = BuildNamedCodeList(ListType::KeyNames, lists::kKeyName, keys)[0];
    EXPECT_EQ(p[4], 0x04);
    EXPECT_EQ(p[5], 'A');
    EXPECT_EQ(p[7], 0);
    EXPECT_EQ(p[4 + 37], 0x05);
    EXPECT_EQ(p[4 + 37 + 1 + 2 * 16], 'b');  // the 17th character
    EXPECT_EQ(p[4 + 37 + 1 + 2 * 17], 0);    // and its terminator
}

TEST(RemoteLists, ConnectionListsComeInTypeOrder) {
    const ModelLayout layout = DecideModelLayout(DeviceValues{});
    const auto packets = BuildConnectionLists(ListSourceFromUi(UiStrings{}, layout));
    std::vector<int> types;
    for (const StreamPacket& p : packets) {
        ASSERT_EQ(DecodeStreamPacket(p).kind, StreamKind::List);
        if (types.empty() || types.back() != p[3]) types.push_back(p[3]);
    }
    EXPECT_EQ(types, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    const StreamPacket& words = packets.back();
    const auto decoded = DecodeNamedCodeList(words, lists::kWord);
    ASSERT_EQ(decoded.size(), 9u);
    EXPECT_EQ(decoded[0].name, "OK");
    EXPECT_EQ(decoded[8].name, "PIN error !");
}

TEST(RemoteLists, KeyCyclePacket) {
    std::array<uint8_t, kKeyCycleBytes> list{};
    list[0] = 2, list[1] = 0x02, list[2] = 0x04, list[3] = 0x00, list[4] = 0x05;
    const auto packet = BuildKeyCyclePacket(list);
    ASSERT_TRUE(packet.has_value());
    const std::vector<uint8_t> head = {0x0C, 0x12, 0, 9, 2, 0, 0x02, 0x04, 0x00, 0x05, 0};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), packet->begin()));

    list[0] = 12;  // more pairs than the list holds: the rest are zero
    list[20] = 0x77;
    const auto full = BuildKeyCyclePacket(list);
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ((*full)[6 + 19], 0x77);
    EXPECT_EQ((*full)[6 + 20], 0);
    list[0] = 13;
    EXPECT_FALSE(BuildKeyCyclePacket(list).has_value());
}

TEST(RemoteLists, FavouritesStartWithType11ThenOnePacketPerItem) {
    std::vector<FavouriteFunction> items(13, {{5, 1, 6, 0}, "Copy"});
    items[12] = {{4, 2, 0, 0}, "Right"};
    const auto packets = BuildFavouritePackets(items);
    ASSERT_EQ(packets.size(), 14u);
    EXPECT_EQ(packets[0][3], 11);
    for (std::size_t i = 4; i < 400; ++i) ASSERT_EQ(packets[0][i], 0);
    const StreamPacket& last = packets[13];
    const std::vector<uint8_t> head = {0x0C, 0x12, 0, 10, 4, 2, 0, 0, 4, 0, '1', 0, '2', 0, 0};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), last.begin()));
    EXPECT_EQ(GetText(last, lists::kFavouriteName), "Right");
}

TEST(RemoteStatusSource, FavouritesAreTheLibraryFunctionsWithoutGroups) {
    FunctionLibrary library;
    library.items.push_back({MacroLibraryEntry{.name = "Mouse", .type = kLibraryFolderType}, ""});
    library.items.push_back(
        {MacroLibraryEntry{.name = "Paste", .type = 5, .op1 = 1, .op2 = 0x19, .op3 = 0}, ""});
    const auto favourites = FavouritesFromLibrary(library);
    ASSERT_EQ(favourites.size(), 1u);
    EXPECT_EQ(favourites[0].function, (std::array<uint8_t, 4>{5, 1, 0x19, 0}));
    EXPECT_EQ(favourites[0].name, "Paste");
}

TEST(RemoteStatusSource, ImageFieldsLandAtTheirOffsets) {
    ConfigImage image;
    image.layoutClass = LayoutClass::B;
    image.currentProfile = 2;
    image.profiles[2] = {"Sniper", {10, 20, 30}, false};
    image.currentDpiStage = 1;
    image.dpiStep = 100;
    image.dpiStepCount = 120;
    image.dpiStages[4] = {40, 41};
    image.buttons[2][23].slot = {5, 1, 6, 0};
    image.defaults[23].slot = {1, 4, 0, 0};
    const StreamPacket p = BuildStatusPacket(StatusInputFromImage(image, true));
    EXPECT_EQ(p[7], 2);
    EXPECT_EQ(GetText(p, status::kName), "Sniper");
    EXPECT_EQ(p[10], 10);
    EXPECT_EQ(p[99], 1);
    EXPECT_EQ(p[100], 120);
    EXPECT_EQ(p[109], 40);
    EXPECT_EQ(p[110], 41);
    EXPECT_EQ(p[112], 2);
    const std::size_t at = 113 + 8 * 23;
    const std::vector<uint8_t> button = {5, 1, 6, 0, 1, 4, 0, 0};
    EXPECT_TRUE(std::equal(button.begin(), button.end(), p.begin() + at));
    EXPECT_EQ(p[350 + 23], 23);
    EXPECT_EQ(p[389], 24);
}

}  // namespace
}  // namespace qvm::remote
