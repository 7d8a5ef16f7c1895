// A device hub on simulated devices whose memory a test folder keeps, on the test's clock.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "session/device_hub.h"

namespace qvm::test {

// Null, with a test failure, when the hub cannot be opened.
inline std::unique_ptr<DeviceHub> OpenSimHub(const std::string& devices, const std::string& folder,
                                             Clock& clock) {
    DeviceHubOptions options;
    options.simulate = devices;
    options.userDataFolder = folder;
    auto made = DeviceHub::Open(options, clock);
    EXPECT_TRUE(made.ok()) << made.message();
    return made ? std::move(made).value() : nullptr;
}

}  // namespace qvm::test
