// The on-screen display of DPI and profile changes, without the window: the fader that
// paces its fade-in, hold and fade-out one pass at a time, and what it draws, built from
// the last status report and the change flags.
//
// Passes run 20 ms apart while the display shows or fades; when it is hidden nothing runs.
// A status report (re)starts the countdown of passes: the opacity rises 25 a pass to full
// in its first passes and stays full for the rest of them, then falls 25 a pass, and the
// pass that reaches 0 hides the display. 80 passes: a fade-in of 11, full for 69 (about
// 1.6 s from the report in all), and a fade-out of 11. A report during any phase restarts the
// countdown and the opacity rises again from where it is.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/config_image.h"
#include "config/image_layout.h"
#include "host/host_status.h"

namespace qvm {

inline constexpr int kOsdPassMs = 20;
inline constexpr int kOsdOpacityStep = 25;
inline constexpr int kOsdFullOpacity = 255;

// What one pass asks of the window, in this order: show, draw, hide.
struct OsdPass {
    bool show = false;    // it became visible: place it and show it without activating it
    bool redraw = false;  // the content or the opacity changed: read and draw it again
    bool hidden = false;  // it is hidden now: hide it and clear the change-flag word
    bool operator==(const OsdPass&) const = default;
};

class OsdFader {
  public:
    // A status report asked for the display for `countdownPasses` passes from now;
    // 0 (the display is switched off) only marks the content dirty, so that a display
    // already showing draws the new values. Negative counts are taken as 0.
    void Start(int countdownPasses);
    // One pass of the display. Does nothing while it is hidden and not started.
    OsdPass Pass();

    int Opacity() const { return opacity_; }  // 0..255
    int Countdown() const { return countdown_; }
    bool Visible() const { return visible_; }
    // Showing or fading: the passes must keep running.
    bool Active() const { return visible_ || countdown_ > 0 || opacity_ > 0; }

  private:
    int countdown_ = 0;
    int opacity_ = 0;
    bool visible_ = false;
    bool dirty_ = false;
};

// The DPI bars are this long at the mouse's maximum number of steps.
inline constexpr int kOsdBarLength = 200;
// Heights of the DPI block, in the display's units.
inline constexpr int kOsdDpiBlockHeight = 50;
inline constexpr int kOsdDpiBlockWithHintHeight = 80;
// Profiles at or above this index in the report have no swatch.
inline constexpr int kOsdFirstUnshownProfile = 6;

struct OsdProfileBlock {
    std::string name;
    Rgb colour;  // 8-bit channels, as the main window's profile tabs show it
    bool operator==(const OsdProfileBlock&) const = default;
};

struct OsdDpiBar {
    int length = 0;    // 0..kOsdBarLength
    std::string text;  // the DPI in decimal
    bool operator==(const OsdDpiBar&) const = default;
};

struct OsdDpiBlock {
    int height = kOsdDpiBlockHeight;
    OsdDpiBar x;
    std::optional<OsdDpiBar> y;  // only when the current stage's X and Y differ
    std::string hint;            // "Scroll to change DPI" in scroll-to-change mode, else ""
    bool operator==(const OsdDpiBlock&) const = default;
};

struct OsdContent {
    std::optional<OsdProfileBlock> profile;
    std::optional<OsdDpiBlock> dpi;
    std::string angleSnapping;  // "angle snapping ON" / "OFF" when it changed, else ""
    bool Empty() const { return !profile && !dpi && angleSnapping.empty(); }
    bool operator==(const OsdContent&) const = default;
};

// What the display knows of the active mouse besides the status report.
struct OsdSource {
    std::vector<OsdProfileBlock> profiles;  // names and colours by profile index
    int dpiStep = kDefaultDpiStep;          // DPI of one step
    int dpiStepCount = 0;                   // the mouse's maximum number of steps
    bool operator==(const OsdSource&) const = default;
};

// The profiles, DPI step and step count of a loaded configuration.
OsdSource OsdSourceOf(const ConfigImage& image);

// The display's content for the change flags of `status`, with texts from the UI tables
// in force.
OsdContent BuildOsdContent(const HostStatusSnapshot& status, const OsdSource& source);

}  // namespace qvm
