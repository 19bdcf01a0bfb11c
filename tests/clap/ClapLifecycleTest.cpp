// Calls in the wrong order or on the wrong thread: the host reports each as a
// fault, and the plug-in refuses it and carries on unharmed.
#include "support/ClapPlugin.h"

#include <algorithm>
#include <thread>

namespace {

bool contains(const std::vector<std::string>& faults, const std::string& wanted)
{
    return std::find(faults.begin(), faults.end(), wanted) != faults.end();
}

TEST_F(ClapTest, CallsOutOfOrderAreRefusedAndReported)
{
    StereoSignal<float> signal(64);
    {
        ClapSession session(*module);
        EXPECT_FALSE(session.activate(44100.0, 1, 64));
        EXPECT_TRUE(session.init());
        EXPECT_FALSE(session.init());
        EXPECT_FALSE(session.startProcessing());
        EXPECT_EQ(session.process(signal.inputs(), 2, signal.outputs(), 2, 64), CLAP_PROCESS_ERROR);
        // Rates outside what the chain is designed for, and no frames at all.
        EXPECT_FALSE(session.activate(8000.0, 1, 64));
        EXPECT_FALSE(session.activate(384000.0, 1, 64));
        EXPECT_FALSE(session.activate(44100.0, 1, 0));
        EXPECT_TRUE(session.activate(44100.0, 1, 64));
        EXPECT_FALSE(session.activate(48000.0, 1, 64));
        EXPECT_EQ(session.process(signal.inputs(), 2, signal.outputs(), 2, 64), CLAP_PROCESS_ERROR);
        EXPECT_TRUE(session.startProcessing());
        EXPECT_FALSE(session.startProcessing());
        // The wrong thread: the plug-in asks the host's thread check and refuses.
        std::thread([&] {
            EXPECT_FALSE(session.saveState());
            EXPECT_FALSE(session.loadState(std::vector<std::uint8_t>(64)));
            session.deactivate();
        }).join();
        EXPECT_EQ(session.process(signal.inputs(), 2, signal.outputs(), 2, 64), CLAP_PROCESS_CONTINUE);
        session.deactivate(); // while processing: the plug-in goes inactive and refuses blocks
        EXPECT_EQ(session.process(signal.inputs(), 2, signal.outputs(), 2, 64), CLAP_PROCESS_ERROR);
        session.destroy(); // while active and processing: the plug-in still goes cleanly
    }
    const std::vector<std::string> faults = takeFaults();
    for (const char* expected : {
             "host: activate called before init",
             "host: init called while inactive",
             "host: start_processing called while inactive",
             "host: process called while inactive",
             "host: activate called while active",
             "host: process called while active",
             "host: start_processing called while processing",
             "host: state.save called off the main thread",
             "host: state.load called off the main thread",
             "host: deactivate called off the main thread",
             "host: deactivate called while processing",
             "host: destroy called while processing",
         })
        EXPECT_TRUE(contains(faults, expected)) << expected;
    // Every breach was the host's: the plug-in accepted none of them.
    for (const std::string& fault : faults)
        EXPECT_EQ(fault.rfind("host: ", 0), 0u) << fault;
}

// The audio thread is a role any one thread may hold at a time: a flush from
// the main thread while another thread is inside process is a fault, and the
// plug-in refuses it; once that thread is done, the main thread may take the
// role.
TEST_F(ClapTest, AnAudioCallWhileAnotherRunsIsRefused)
{
    const auto session = processing();
    StereoSignal<float> signal(64);
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
    session->onEventsRead = [&] {
        inside = true;
        while (!release)
            std::this_thread::yield();
    };
    std::thread audio([&] { session->process(signal.inputs(), 2, signal.outputs(), 2, 64); });
    while (!inside)
        std::this_thread::yield();
    session->flush({clapParameterEvent(kDrive, 20.0)});
    release = true;
    audio.join();
    session->onEventsRead = nullptr;
    EXPECT_EQ(takeFaults(),
              std::vector<std::string>{"host: params.flush called while another thread is in an audio-thread call"});
    EXPECT_EQ(session->parameterValue(kDrive), 10.0);

    session->flush({clapParameterEvent(kDrive, 20.0)});
    EXPECT_EQ(session->parameterValue(kDrive), 20.0);
    EXPECT_EQ(session->process(signal.inputs(), 2, signal.outputs(), 2, 64), CLAP_PROCESS_CONTINUE);
}

} // namespace
