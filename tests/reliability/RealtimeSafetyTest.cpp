// After the first processing call the audio thread never touches the heap, in
// any mode, layout or precision, with or without an editor taking its feed.
#include "host/BoosterEffect.h"
#include "reliability/AllocationCounter.h"
#include "support/TestHost.h"

#include <vector>

namespace {

template <typename Sample> void processLayouts(AEffect* effect, std::vector<std::vector<Sample>>& buffers)
{
    Sample* stereo[2] = {buffers[0].data(), buffers[1].data()};
    Sample* out[2] = {buffers[2].data(), buffers[3].data()};
    Sample* single[2] = {buffers[0].data(), nullptr};
    for (int call = 0; call < 3; ++call) {
        if constexpr (sizeof(Sample) == sizeof(float)) {
            effect->processReplacing(effect, stereo, out, 128);
            effect->processReplacing(effect, single, out, 128);
            effect->processReplacing(effect, stereo, stereo, 128);
        } else {
            effect->processDoubleReplacing(effect, stereo, out, 128);
            effect->processDoubleReplacing(effect, single, out, 128);
            effect->processDoubleReplacing(effect, stereo, stereo, 128);
        }
    }
}

TEST(RealtimeSafety, NoHeapTrafficOnTheAudioThreadAfterTheFirstCall)
{
    HostedEffect host;
    host.dispatch(effSetBlockSize, 0, 128);
    BoosterProcessor& effect = static_cast<BoosterEffect*>(host.effect->object)->processor();
    EditorDisplay display;
    std::vector<std::vector<float>> floats(4, std::vector<float>(128, 0.25f));
    std::vector<std::vector<double>> doubles(4, std::vector<double>(128, -0.25));
    processLayouts(host.effect, floats); // the first call may set things up

    const allocation::ThreadCounts before = allocation::thisThread();
    for (int feed = 0; feed < 2; ++feed) {
        if (feed == 1) {
            effect.attachDisplay(&display);
            effect.startScopeFeed();
        }
        for (float channels : {0.0f, 1.0f})
            for (float oversample : {0.0f, 1.0f})
                for (int mode = 0; mode < 4; ++mode)
                    for (float character : {0.0f, 0.4f, 0.7f, 1.0f}) {
                        host.set(kChannels, channels);
                        host.set(kOversample, oversample);
                        host.set(kMode, (static_cast<float>(mode) + 0.5f) / 4.0f);
                        host.set(kCharacter, character);
                        host.set(kEnable, mode == 0 && character == 0.0f ? 0.0f : 1.0f);
                        processLayouts(host.effect, floats);
                        processLayouts(host.effect, doubles);
                    }
    }
    const allocation::ThreadCounts after = allocation::thisThread();
    EXPECT_EQ(after.allocations, before.allocations);
    EXPECT_EQ(after.frees, before.frees);
    effect.stopScopeFeed();
    effect.attachDisplay(nullptr);
}

} // namespace
