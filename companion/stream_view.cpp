#include "companion/stream_view.h"

#include <array>
#include <cstdio>

#include "net/remote_lists.h"

namespace qvm::companion {

namespace {

using remote::ListType;

// How each list type is counted and named in the summary. A null layout counts the type
// another way (pairs by their count byte, favourites one a packet).
struct ListKind {
    ListType type;
    const remote::ListEntryLayout* layout;
    const char* label;
};
constexpr std::array kListKinds = {
    ListKind{ListType::KeyNames, &remote::lists::kKeyName, "key names"},
    ListKind{ListType::ConsumerKeys, &remote::lists::kConsumerKey, "consumer keys"},
    ListKind{ListType::FunctionTypes, &remote::lists::kIndexedName, "function types"},
    ListKind{ListType::MouseFunctions, &remote::lists::kIndexedName, "mouse functions"},
    ListKind{ListType::ButtonPairs, nullptr, "button pairs"},
    ListKind{ListType::FunctionClasses, &remote::lists::kClassName, "function classes"},
    ListKind{ListType::AxisLocks, &remote::lists::kClassName, "axis locks"},
    ListKind{ListType::CompanionWords, &remote::lists::kWord, "companion words"},
    ListKind{ListType::Favourite, nullptr, "favourites"},
};

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        text += two;
    }
    return text;
}

}  // namespace

std::string StatusLine(const remote::DecodedStatus& s) {
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%02X%02X%02X", s.colour[0], s.colour[1], s.colour[2]);
    std::string line = "profile " + std::to_string(s.profile + 1) + " \"" + s.profileName + "\" " +
                       colour + " stage " + std::to_string(s.currentStage + 1) + " dpi";
    for (const auto& stage : s.stages) {
        line += " " + std::to_string(stage[0]) + "x" + std::to_string(stage[1]);
    }
    line += " of " + std::to_string(s.dpiMax) + " buttons";
    for (const remote::RemoteButton& button : s.buttons) line += " " + Hex(button.current);
    return line;
}

void StreamView::Count(std::uint8_t listType, std::span<const std::uint8_t> packet) {
    if (listType == static_cast<std::uint8_t>(ListType::FavouritesStart)) {
        entries_[static_cast<std::size_t>(ListType::Favourite)] = 0;
        return;
    }
    if (listType >= entries_.size()) return;
    int& count = entries_[listType];
    if (listType == static_cast<std::uint8_t>(ListType::ButtonPairs)) {
        count += static_cast<int>(remote::GetField(packet, remote::lists::kPairCount));
    } else if (listType == static_cast<std::uint8_t>(ListType::Favourite)) {
        ++count;
    } else {
        for (const ListKind& kind : kListKinds) {
            if (static_cast<std::uint8_t>(kind.type) == listType && kind.layout != nullptr) {
                count += static_cast<int>(remote::DecodeNamedCodeList(packet, *kind.layout).size());
            }
        }
    }
}

std::string StreamView::Summary() const {
    std::string text = "lists:";
    for (const ListKind& kind : kListKinds) {
        text += (text.back() == ':' ? " " : ", ") +
                std::to_string(entries_[static_cast<std::size_t>(kind.type)]) + " " + kind.label;
    }
    return text;
}

std::vector<std::string> StreamView::Take(std::span<const std::uint8_t> packet) {
    const remote::DecodedStreamPacket decoded = remote::DecodeStreamPacket(packet);
    if (!decoded.kind) return {};
    if (*decoded.kind == remote::StreamKind::List) {
        if (!summaryGiven_) Count(decoded.listType, packet);
        return {};
    }
    std::vector<std::string> lines;
    if (!summaryGiven_) {
        lines.push_back(Summary());
        summaryGiven_ = true;
    }
    std::string line =
        *decoded.kind == remote::StreamKind::NoDevice ? "no device" : StatusLine(decoded.status);
    if (line != last_) {
        last_ = line;
        lines.push_back(std::move(line));
        ++statusLines_;
    }
    return lines;
}

}  // namespace qvm::companion
