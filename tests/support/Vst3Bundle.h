// The built VST 3 bundle beside the test program, loaded as a host loads it:
// through its factory, by the host tool's VST 3 side.
#pragma once

#include "PluginLibrary.h"
#include "Vst3Instance.h"
#include "vst3/Vst3Abi.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

struct LoadedBundle {
    Vst3Module module;
    std::unique_ptr<PluginInstance> made;
    Vst3Instance* instance = nullptr;
    std::string error;

    LoadedBundle()
    {
        if (!module.load(executableFolder() + "Grindlemark.vst3", error))
            return;
        made = module.instantiate(error);
        instance = static_cast<Vst3Instance*>(made.get());
    }
    vst3::IEditController& controller() { return *instance->controllerInterface(); }
    vst3::IComponent& component() { return *instance->componentInterface(); }
    vst3::ParamID programId() const { return 0x70726F67; }
};

#define LOAD_BUNDLE(name)                                                                                              \
    LoadedBundle name;                                                                                                 \
    ASSERT_NE(name.instance, nullptr) << name.error
