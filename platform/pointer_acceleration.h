// The desktop's pointer settings that the "disable mouse acceleration" option controls:
// the two acceleration thresholds, the acceleration level and the pointer speed (1..20,
// 10 is the neutral speed that moves the pointer one pixel per count).
#pragma once

#include <optional>

#include "platform/result.h"

namespace qvm {

struct MouseParams {
    int threshold1 = 0;
    int threshold2 = 0;
    int acceleration = 0;

    bool operator==(const MouseParams&) const = default;
};

inline constexpr int kNeutralPointerSpeed = 10;

class PointerAcceleration {
  public:
    virtual ~PointerAcceleration() = default;

    virtual Result<MouseParams> GetMouseParams() = 0;
    // std::nullopt when the desktop has no speed to report.
    virtual std::optional<int> GetPointerSpeed() = 0;
    // Both setters store the value for the user's session and tell running programs.
    virtual Status SetPointerSpeed(int speed) = 0;
    virtual Status SetMouseParams(const MouseParams& params) = 0;
};

}  // namespace qvm
