// A PointerAcceleration that starts from given desktop values and records every call.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/pointer_acceleration.h"

namespace qvm::test {

class RecordingPointerAcceleration final : public PointerAcceleration {
  public:
    RecordingPointerAcceleration(MouseParams params, std::optional<int> speed)
        : params_(params), speed_(speed) {}

    Result<MouseParams> GetMouseParams() override {
        calls.push_back("get params");
        if (failGet) return MakeError("no pointer device");
        return params_;
    }
    std::optional<int> GetPointerSpeed() override {
        calls.push_back("get speed");
        return speed_;
    }
    Status SetPointerSpeed(int speed) override {
        calls.push_back("set speed " + std::to_string(speed));
        speed_ = speed;
        return {};
    }
    Status SetMouseParams(const MouseParams& p) override {
        calls.push_back("set params " + std::to_string(p.threshold1) + "," +
                        std::to_string(p.threshold2) + "," + std::to_string(p.acceleration));
        params_ = p;
        return {};
    }

    std::vector<std::string> calls;
    bool failGet = false;

  private:
    MouseParams params_;
    std::optional<int> speed_;
};

}  // namespace qvm::test
