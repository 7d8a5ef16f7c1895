#include "present/text_entry.h"

#include <algorithm>
#include <span>

namespace qvm {
namespace {

constexpr char16_t kMinus = u'-';
// Enough for "-32768" and "65535"; further leading zeros are refused.
constexpr std::size_t kPositionMaxChars = 6;
constexpr char32_t kFirstSupplementary = 0x10000;
// Far beyond every limit here, and small enough that parsing cannot overflow.
constexpr int64_t kParseCeiling = int64_t{1} << 40;

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
bool IsDigit(char32_t ch) {
    return ch >= U'0' && ch <= U'9';
}
bool IsControl(char32_t ch) {
    return ch < 0x20 || (ch >= 0x7F && ch <= 0x9F);
}

// Calls visit(codePoint) for each character; lone surrogates are passed over.
template <class Visit>
void ForEachCodePoint(std::u16string_view text, Visit&& visit) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            visit(kFirstSupplementary + ((char32_t{unit} - 0xD800) << 10) +
                  (char32_t{text[i + 1]} - 0xDC00));
            ++i;
        } else if (!IsHighSurrogate(unit) && !IsLowSurrogate(unit)) {
            visit(char32_t{unit});
        }
    }
}

std::u16string Encode(char32_t ch) {
    if (ch < kFirstSupplementary) return std::u16string(1, static_cast<char16_t>(ch));
    const char32_t v = ch - kFirstSupplementary;
    return {static_cast<char16_t>(0xD800 + (v >> 10)), static_cast<char16_t>(0xDC00 + (v & 0x3FF))};
}

// A position inside a surrogate pair moves to the pair's start.
std::size_t SnapPosition(const std::u16string& text, std::size_t pos) {
    pos = std::min(pos, text.size());
    if (pos > 0 && pos < text.size() && IsLowSurrogate(text[pos]) && IsHighSurrogate(text[pos - 1]))
        --pos;
    return pos;
}

// The leading number of text: an optional minus sign, then digits up to the first other
// character; saturates far beyond every limit.
int64_t ParseNumber(std::u16string_view text) {
    const bool negative = !text.empty() && text.front() == kMinus;
    int64_t value = 0;
    for (std::size_t i = negative ? 1 : 0; i < text.size() && IsDigit(text[i]); ++i)
        value = std::min(value * 10 + (text[i] - u'0'), kParseCeiling);
    return negative ? -value : value;
}

std::u16string NumberText(int64_t value) {
    const std::string ascii = std::to_string(value);
    return {ascii.begin(), ascii.end()};
}

std::u16string InsertAt(std::u16string text, std::size_t at, char32_t ch) {
    text.insert(at, Encode(ch));
    return text;
}

bool OverLimit(std::size_t length, int32_t maximumLength) {
    return maximumLength > 0 && length > static_cast<std::size_t>(maximumLength);
}

}  // namespace

Result<TextEntryForm> TextEntryFormFromNumber(int32_t number) {
    switch (static_cast<TextEntryForm>(number)) {
        case TextEntryForm::Text:
        case TextEntryForm::Number:
        case TextEntryForm::Position:
        case TextEntryForm::TextWithFolder:
        case TextEntryForm::Question:
            return static_cast<TextEntryForm>(number);
    }
    return MakeError("unknown text entry form " + std::to_string(number) +
                     " (expected 0, 1, 3, 5 or 10)");
}

// ---- LineEditModel ----

void LineEditModel::SetText(std::u16string_view text) {
    std::u16string clean;
    ForEachCodePoint(text, [&](char32_t ch) { clean += Encode(ch); });
    const std::size_t end = clean.size();
    Commit(std::move(clean), end);
}

void LineEditModel::SelectAll() {
    anchor_ = 0;
    cursor_ = text_.size();
}

void LineEditModel::Select(std::size_t anchor, std::size_t cursor) {
    anchor_ = SnapPosition(text_, anchor);
    cursor_ = SnapPosition(text_, cursor);
}

std::size_t LineEditModel::SelectionLength() const {
    return anchor_ < cursor_ ? cursor_ - anchor_ : anchor_ - cursor_;
}

void LineEditModel::Type(std::u16string_view typed) {
    bool full = false;
    ForEachCodePoint(typed, [&](char32_t ch) {
        if (!full) full = TypeOne(ch) == Typed::Full;
    });
}

void LineEditModel::Backspace() {
    if (SelectionLength() > 0) {
        Commit(WithoutSelection(), SelectionStart());
        return;
    }
    if (cursor_ == 0) return;
    std::size_t from = cursor_ - 1;
    if (from > 0 && IsLowSurrogate(text_[from]) && IsHighSurrogate(text_[from - 1])) --from;
    std::u16string text = text_;
    text.erase(from, cursor_ - from);
    Commit(std::move(text), from);
}

void LineEditModel::DeleteForward() {
    if (SelectionLength() > 0) {
        Commit(WithoutSelection(), SelectionStart());
        return;
    }
    if (cursor_ >= text_.size()) return;
    std::size_t to = cursor_ + 1;
    if (to < text_.size() && IsHighSurrogate(text_[cursor_]) && IsLowSurrogate(text_[to])) ++to;
    std::u16string text = text_;
    text.erase(cursor_, to - cursor_);
    Commit(std::move(text), cursor_);
}

std::u16string LineEditModel::WithoutSelection() const {
    std::u16string text = text_;
    text.erase(SelectionStart(), SelectionLength());
    return text;
}

void LineEditModel::Commit(std::u16string text, std::size_t cursor) {
    text_ = std::move(text);
    cursor_ = anchor_ = SnapPosition(text_, cursor);
}

// ---- TextField ----

LineEditModel::Typed TextField::TypeOne(char32_t ch) {
    if (IsControl(ch)) return Typed::Refused;
    const std::u16string base = WithoutSelection();
    const std::size_t at = SelectionStart();
    const std::u16string unit = Encode(ch);
    if (OverLimit(base.size() + unit.size(), maximumLength_)) return Typed::Full;
    Commit(InsertAt(base, at, ch), at + unit.size());
    return Typed::Accepted;
}

// ---- NumberField ----

NumberField::NumberField(int32_t maximumValue, int32_t maximumLength)
    : maximumValue_(std::max(maximumValue, 0)), maximumLength_(maximumLength) {}

int32_t NumberField::Value() const {
    return static_cast<int32_t>(std::clamp<int64_t>(ParseNumber(Text()), 0, maximumValue_));
}

LineEditModel::Typed NumberField::TypeOne(char32_t ch) {
    if (!IsDigit(ch)) return Typed::Refused;
    const std::u16string base = WithoutSelection();
    const std::size_t at = SelectionStart();
    const std::u16string maximum = NumberText(maximumValue_);
    if (ParseNumber(base) >= maximumValue_) {
        Commit(maximum, maximum.size());
        return Typed::Accepted;
    }
    if (OverLimit(base.size() + 1, maximumLength_)) return Typed::Full;
    std::u16string candidate = InsertAt(base, at, ch);
    if (ParseNumber(candidate) > maximumValue_) {
        Commit(maximum, maximum.size());
    } else {
        Commit(std::move(candidate), at + 1);
    }
    return Typed::Accepted;
}

// ---- PositionField ----

int32_t PositionField::Value() const {
    const int64_t value = ParseNumber(Text());
    return static_cast<int32_t>(
        absolute_ ? std::clamp<int64_t>(value, 0, kAbsoluteMaximum)
                  : std::clamp<int64_t>(value, kRelativeMinimum, kRelativeMaximum));
}

LineEditModel::Typed PositionField::TypeOne(char32_t ch) {
    if (IsDigit(ch)) return TypeDigit(ch);
    if (ch != kMinus || absolute_) return Typed::Refused;
    const std::u16string base = WithoutSelection();
    if (SelectionStart() != 0 || (!base.empty() && base.front() == kMinus)) return Typed::Refused;
    if (base.size() >= kPositionMaxChars) return Typed::Full;
    std::u16string candidate = InsertAt(base, 0, ch);
    // "-0" .. "-32768" all fit; a longer run of digits below the limit cannot exist.
    if (ParseNumber(candidate) < kRelativeMinimum) candidate = NumberText(kRelativeMinimum);
    Commit(std::move(candidate), 1);
    return Typed::Accepted;
}

LineEditModel::Typed PositionField::TypeDigit(char32_t digit) {
    const std::u16string base = WithoutSelection();
    const std::size_t at = SelectionStart();
    const bool negative = !base.empty() && base.front() == kMinus;
    const auto setTo = [this](int64_t value) {
        std::u16string text = NumberText(value);
        const std::size_t end = text.size();
        Commit(std::move(text), end);
        return Typed::Accepted;
    };
    if (absolute_ && negative) return setTo(0);
    if (negative && at == 0) return Typed::Refused;  // nothing goes before the sign

    const int64_t value = ParseNumber(base);
    if (absolute_) {
        if (value >= kAbsoluteJumpThreshold) return setTo(kAbsoluteMaximum);
    } else {
        if (value >= kRelativeMaximum) return setTo(kRelativeMaximum);
        if (value <= kRelativeMinimum) return setTo(kRelativeMinimum);
    }
    if (base.size() >= kPositionMaxChars) return Typed::Full;
    std::u16string candidate = InsertAt(base, at, digit);
    const int64_t next = ParseNumber(candidate);
    const int64_t low = absolute_ ? 0 : kRelativeMinimum;
    const int64_t high = absolute_ ? kAbsoluteMaximum : kRelativeMaximum;
    if (next > high || next < low) return setTo(std::clamp(next, low, high));
    Commit(std::move(candidate), at + 1);
    return Typed::Accepted;
}

// ---- PositionFields ----

PositionFields::PositionFields(int32_t xValue, int32_t yValue, bool absolute)
    : x(absolute), y(absolute) {
    x.SetText(NumberText(xValue));
    y.SetText(NumberText(yValue));
}

void PositionFields::SetAbsolute(bool absolute) {
    x.SetAbsolute(absolute);
    y.SetAbsolute(absolute);
}

void PositionFields::SetFromPointer(int32_t screenX, int32_t screenY) {
    SetAbsolute(true);
    x.SetText(NumberText(std::clamp(screenX, 0, kAbsoluteMaximum)));
    y.SetText(NumberText(std::clamp(screenY, 0, kAbsoluteMaximum)));
}

// ---- Lists and labels ----

namespace {

constexpr std::size_t kRootMsg = 28;
constexpr std::string_view kRootFallback = "Root";
constexpr char kDepthMark = '.';

// One dialog button: its label entry and what stands in for an empty label.
struct ButtonText {
    std::size_t index;  // button_str and button_tip_str
    std::string_view fallback;
};
constexpr ButtonText kOkCancel[] = {{7, "OK"}, {8, "Cancel"}};
// First, second and third choice.
constexpr ButtonText kThreeChoices[] = {{42, "Yes"}, {44, "Cancel"}, {43, "No"}};

// The one place that keeps a blank label from reaching the user.
std::string NonEmpty(const std::string& text, const std::string& second,
                     std::string_view fallback) {
    if (!text.empty()) return text;
    if (!second.empty()) return second;
    return std::string(fallback);
}

}  // namespace

std::vector<FolderChoice> FolderChoices(const std::vector<MacroLibraryEntry>& library,
                                        const UiStrings& strings) {
    std::vector<FolderChoice> choices;
    choices.push_back({0, NonEmpty(strings.msg_str[kRootMsg], {}, kRootFallback)});
    for (const MacroLibraryEntry& entry : library) {
        if (!entry.IsFolder()) continue;
        std::string label(static_cast<std::size_t>(std::max(entry.depth, 0)), kDepthMark);
        label += ' ';
        label += entry.name;
        choices.push_back({entry.id, std::move(label)});
    }
    return choices;
}

std::size_t PreselectedFolderIndex(const std::vector<FolderChoice>& choices, int32_t folderId) {
    const auto found = std::find_if(choices.begin(), choices.end(),
                                    [&](const FolderChoice& c) { return c.id == folderId; });
    return found == choices.end() ? 0 : static_cast<std::size_t>(found - choices.begin());
}

std::vector<std::string> ButtonLabels(const TextEntryRequest& request, const UiStrings& strings) {
    const bool three = request.form == TextEntryForm::Question && request.threeChoices;
    const std::span<const ButtonText> buttons =
        three ? std::span<const ButtonText>(kThreeChoices) : std::span<const ButtonText>(kOkCancel);
    std::vector<std::string> labels;
    for (const ButtonText& button : buttons)
        labels.push_back(NonEmpty(strings.button_str[button.index],
                                  strings.button_tip_str[button.index], button.fallback));
    return labels;
}

}  // namespace qvm
