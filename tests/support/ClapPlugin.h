// The built Grindlemark.clap beside the test program, loaded once through its
// entry as a host loads it and driven by the host tool's strict CLAP host.
// Tests built on ClapTest fail on any breach of CLAP's rules that the host
// saw, unless they take the faults they provoked.
#pragma once

#include "ClapHost.h"
#include "PluginLibrary.h"
#include "effect/Parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

inline ClapModule* builtClapModule(std::string& error)
{
    static std::string loadError;
    static ClapModule module;
    static const bool loaded = module.load(executableFolder() + "Grindlemark.clap", loadError);
    error = loadError;
    return loaded ? &module : nullptr;
}

constexpr clap_id kProgramId = 0x70726f67;

class ClapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        module = builtClapModule(error);
        ASSERT_NE(module, nullptr) << error;
        module->faults().clear();
    }
    void TearDown() override
    {
        if (module)
            for (const std::string& fault : module->faults().list())
                ADD_FAILURE() << fault;
    }
    // The faults seen so far, taken so that TearDown does not report them.
    std::vector<std::string> takeFaults()
    {
        std::vector<std::string> faults = module->faults().list();
        module->faults().clear();
        return faults;
    }
    std::unique_ptr<ClapSession> initialised()
    {
        auto session = std::make_unique<ClapSession>(*module);
        EXPECT_TRUE(session->plugin() && session->init());
        return session;
    }
    // Initialised, with `settings` flushed in while inactive, then active at
    // 44.1 kHz with blocks of up to `maxFrames` and processing.
    std::unique_ptr<ClapSession> processing(const std::vector<clap_event_param_value_t>& settings = {},
                                            std::uint32_t maxFrames = 256)
    {
        auto session = initialised();
        session->flush(settings);
        EXPECT_TRUE(session->activate(44100.0, 1, maxFrames));
        EXPECT_TRUE(session->startProcessing());
        return session;
    }

    ClapModule* module = nullptr;
};

// Two channels of a guitar-like test signal: a decaying chord, different in
// each channel, at about -12 dBFS.
template <typename Sample> struct StereoSignal {
    explicit StereoSignal(std::size_t frames) : in(2, std::vector<Sample>(frames)), out(2, std::vector<Sample>(frames))
    {
        const double twoPi = 2.0 * 3.141592653589793;
        for (std::size_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / 44100.0;
            const double decay = std::exp(-3.0 * t);
            in[0][i] =
                static_cast<Sample>(0.25 * decay * (std::sin(twoPi * 110.0 * t) + 0.5 * std::sin(twoPi * 330.0 * t)));
            in[1][i] = static_cast<Sample>(0.2 * decay * std::sin(twoPi * 164.8 * t + 0.4));
        }
    }
    // Channel pointers from frame `first` on.
    Sample** inputs(std::size_t first = 0)
    {
        inPointers[0] = in[0].data() + first;
        inPointers[1] = in[1].data() + first;
        return inPointers;
    }
    Sample** outputs(std::size_t first = 0)
    {
        outPointers[0] = out[0].data() + first;
        outPointers[1] = out[1].data() + first;
        return outPointers;
    }

    std::vector<std::vector<Sample>> in;
    std::vector<std::vector<Sample>> out;
    Sample* inPointers[2] = {};
    Sample* outPointers[2] = {};
};
