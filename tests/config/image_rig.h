// A configuration model wired to one simulated mouse through the real command set and
// transport, with a fake clock. The device values are filled as discovery would.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/config_image.h"
#include "support/sim_rig.h"

namespace qvm::test {

struct ImageRig : SimRig {
    std::unique_ptr<ConfigModel> model;

    explicit ImageRig(const std::string& devices, const Wrap& wrap = {}) : SimRig(devices, wrap) {
        model = std::make_unique<ConfigModel>(*commands, path);
    }

    std::shared_ptr<const ConfigImage> Image() { return model->Snapshot(); }
    void Load() {
        const Status s = model->LoadConfiguration();
        ASSERT_TRUE(s.ok()) << s.message();
    }
};

}  // namespace qvm::test
