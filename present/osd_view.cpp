#include "present/osd_view.h"

#include <algorithm>
#include <cstdint>

#include "lang/ui_strings.h"

namespace qvm {

void OsdFader::Start(int countdownPasses) {
    if (countdownPasses > 0) countdown_ = countdownPasses;
    dirty_ = true;
}

OsdPass OsdFader::Pass() {
    OsdPass pass;
    if (countdown_ > 0) {
        // The countdown runs from the report on: the fade-in (or the rise from a fade-out
        // a new report interrupted) takes the first passes of it, then it holds. The
        // window is shown only once it has something to show.
        if (opacity_ < kOsdFullOpacity) {
            opacity_ = std::min(opacity_ + kOsdOpacityStep, kOsdFullOpacity);
            dirty_ = true;
        }
        --countdown_;
        if (!visible_) visible_ = pass.show = true;
    } else if (opacity_ > 0) {
        opacity_ = std::max(opacity_ - kOsdOpacityStep, 0);
        dirty_ = true;
        // The step that reaches 0 hides it: the display is never up at opacity 0.
        if (opacity_ == 0) {
            visible_ = false;
            pass.hidden = true;
        }
    }
    pass.redraw = dirty_ && visible_;
    dirty_ = false;
    return pass;
}

namespace {

OsdDpiBar DpiBar(int steps, const OsdSource& source) {
    OsdDpiBar bar;
    if (source.dpiStepCount > 0) {
        const std::int64_t length = std::int64_t{kOsdBarLength} * steps / source.dpiStepCount;
        bar.length = static_cast<int>(std::clamp<std::int64_t>(length, 0, kOsdBarLength));
    }
    bar.text = std::to_string(source.dpiStep * steps);
    return bar;
}

}  // namespace

OsdSource OsdSourceOf(const ConfigImage& image) {
    OsdSource source;
    const int count = std::clamp(image.profileCount, 0, kProfileCount);
    for (int p = 0; p < count; ++p) {
        const ProfileInfo& info = image.profiles[static_cast<std::size_t>(p)];
        source.profiles.push_back(OsdProfileBlock{info.name, info.colour});
    }
    source.dpiStep = image.dpiStep;
    source.dpiStepCount = image.dpiStepCount;
    return source;
}

OsdContent BuildOsdContent(const HostStatusSnapshot& status, const OsdSource& source) {
    OsdContent content;
    const std::uint32_t flags = status.changeFlags;
    const bool knownProfile = status.profile >= 0 && status.profile < kOsdFirstUnshownProfile &&
                              status.profile < static_cast<int>(source.profiles.size());
    if ((flags & change_flag::kProfile) != 0 && knownProfile) {
        content.profile = source.profiles[static_cast<std::size_t>(status.profile)];
    }
    const bool scrollMode = (flags & change_flag::kScrollChangesDpi) != 0;
    if ((flags & change_flag::kStage) != 0 || scrollMode) {
        OsdDpiBlock& dpi = content.dpi.emplace();
        dpi.height = scrollMode ? kOsdDpiBlockWithHintHeight : kOsdDpiBlockHeight;
        dpi.x = DpiBar(status.currentX, source);
        if (status.currentY != status.currentX) dpi.y = DpiBar(status.currentY, source);
        if (scrollMode) dpi.hint = Ui().word_str[kWordOsdScrollHint];
    }
    if ((flags & change_flag::kAngleSnapping) != 0) {
        content.angleSnapping = Ui().word_str[status.angleSnapping ? kWordOsdAngleSnappingOn
                                                                   : kWordOsdAngleSnappingOff];
    }
    return content;
}

}  // namespace qvm
