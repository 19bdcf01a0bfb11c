// The steps of the engine's chain, each over the lane type: a double carries
// one channel, a LanePair the two channels of a stereo frame side by side.
// A step gathers the running state it moves into lanes before a chunk of
// chain samples, takes the samples one after the other, and scatters the
// state back after the chunk. Every step keeps the arithmetic order of the
// single-channel chain, so each lane gives bit for bit what a double gives.
//
// Internal to the engine; audio thread, no allocation.
#pragma once

#include "dsp/CharacterEq.h"
#include "dsp/LanePair.h"
#include "dsp/TapeStage.h"
#include "dsp/TriodeStage.h"
#include "engine/ChannelState.h"
#include "engine/SampleRecord.h"

#include <cstdint>

// Input limiter: two followers of |x| (fast and slow); while the larger one
// exceeds full scale the sample is divided by it. Signals whose mean stays
// at or below full scale pass unchanged.
template <typename Lane> struct LimiterStep {
    Lane fast, slow, fastCoeff, slowCoeff;

    LimiterStep(const EnvelopeFollower& lane0, const EnvelopeFollower& lane1)
    {
        using L = Lanes<Lane>;
        fast = L::gather(lane0.fast, lane1.fast);
        slow = L::gather(lane0.slow, lane1.slow);
        fastCoeff = L::gather(lane0.fastCoeff, lane1.fastCoeff);
        slowCoeff = L::gather(lane0.slowCoeff, lane1.slowCoeff);
    }

    Lane process(Lane x)
    {
        using L = Lanes<Lane>;
        const Lane magnitude = absolute(x);
        fast = fast + (magnitude - fast) * fastCoeff;
        slow = slow + (magnitude - slow) * slowCoeff;
        const Lane envelope = greaterOr(fast, slow);
        const auto limited = envelope > L::both(1.0);
        if (L::any(limited))
            x = select(limited, x / envelope, x);
        return x;
    }

    void scatter(EnvelopeFollower& lane0, EnvelopeFollower& lane1) const
    {
        Lanes<Lane>::scatter(fast, lane0.fast, lane1.fast);
        Lanes<Lane>::scatter(slow, lane0.slow, lane1.slow);
    }
};

// Character equaliser: the design's active sections, one memory per
// channel, then the make-up gain.
template <typename Lane> struct EqualiserStep {
    BiquadLanes<Lane> sections[eqMaxActiveSections];
    int count;
    Lane makeup;

    EqualiserStep(const CharacterEqDesign& design, const CharacterEqMemory& lane0, const CharacterEqMemory& lane1)
        : count(design.eqSectionCount), makeup(Lanes<Lane>::both(design.eqMakeupGain))
    {
        for (int i = 0; i < count; ++i)
            sections[i] = BiquadLanes<Lane>::gather(design.sections[i], design.sections[i], lane0[i], lane1[i]);
    }

    Lane process(Lane x)
    {
        for (int i = 0; i < count; ++i)
            x = sections[i].process(x);
        return makeup * x;
    }

    void scatter(CharacterEqMemory& lane0, CharacterEqMemory& lane1) const
    {
        for (int i = 0; i < count; ++i)
            sections[i].scatterMemory(lane0[i], lane1[i]);
    }
};

// Triode stage: the driven sample plus a tiny noise offset against
// denormals goes through the tables; the stage's rest output is removed,
// the phase inverted and the level brought back by the make-up gain.
template <typename Lane> struct TriodeStep {
    const TriodeTables* tables = nullptr;
    Lane cathode, plate, drive, restOutput, makeup;

    void gather(const TriodeTables& design, const NodeVoltages& lane0, const NodeVoltages& lane1, double driveGain,
                double makeupGain)
    {
        using L = Lanes<Lane>;
        tables = &design;
        cathode = L::gather(lane0.cathode, lane1.cathode);
        plate = L::gather(lane0.plate, lane1.plate);
        drive = L::both(driveGain);
        restOutput = L::both(design.restOutput());
        makeup = L::both(makeupGain);
    }

    Lane process(Lane t, Lane noise)
    {
        const Lane shaped = tables->shapeSample(drive * t + noise, cathode, plate);
        return -(shaped - restOutput) * makeup;
    }

    void scatter(NodeVoltages& lane0, NodeVoltages& lane1) const
    {
        Lanes<Lane>::scatter(cathode, lane0.cathode, lane1.cathode);
        Lanes<Lane>::scatter(plate, lane0.plate, lane1.plate);
    }
};

// Tape stage, in the three steps of TapeLanes so that the driver can overlap
// consecutive samples: the low end ahead of the clipper, the envelope and the
// clipper, then the tone sections and the make-up gain.
template <typename Lane> struct TapeStep {
    TapeLanes<Lane> stage;
    Lane drive, makeup;

    void gather(const TapeDesign& design, TapeStage& lane0, TapeStage& lane1, double driveGain, double makeupGain)
    {
        stage.gather(design, lane0, lane1);
        drive = Lanes<Lane>::both(driveGain);
        makeup = Lanes<Lane>::both(makeupGain);
    }

    Lane lowEnd(Lane t) { return stage.lowEnd(t); }
    Lane saturate(Lane t, Lane shaped) { return stage.saturate(t, shaped, drive); }
    Lane tone(Lane clipped) { return stage.tone(clipped) * makeup; }

    void scatter() const { stage.scatter(); }
};

// Output level.
template <typename Lane> inline Lane levelStep(Lane t, Lane gain)
{
    return gain * t;
}

// Switch fade over the `count` chain samples of one host frame. One counter
// serves the engine, stepped by every chain sample of either channel, lane
// 0's samples first, so the fade may end between the two channels or
// part-way through either; the output slides linearly from the held output
// to the new one and reaches it as the counter reaches 0. Without a fade each
// lane's last sample becomes its held output.
template <typename Lane>
inline void fadeStep(Lane* samples, int count, std::int32_t& fadeCounter, double fadeLength, double& held0,
                     double& held1)
{
    using L = Lanes<Lane>;
    if (!(fadeCounter > 0)) {
        L::scatter(samples[count - 1], held0, held1);
        return;
    }
    double* const held[2] = {&held0, &held1};
    for (int lane = 0; lane < L::count; ++lane) {
        for (int i = 0; i < count; ++i) {
            double out = L::lane(samples[i], lane);
            if (fadeCounter > 0) {
                --fadeCounter;
                const double a = fadeCounter / fadeLength;
                out = (1.0 - a) * out + a * *held[lane];
                L::setLane(samples[i], lane, out);
            } else {
                *held[lane] = out;
            }
        }
    }
}

// What the scope points need from each host frame: the values of its last
// chain sample (every chain sample writes its frame's slot, the last one
// stays).
template <typename Lane, int maxFrames> struct ScopeValues {
    Lane tubeIn[maxFrames], tubeOut[maxFrames], preClip[maxFrames], clipped[maxFrames];

    // Into the records: the tube point (stage input and output, each times
    // 0.6) and the tape point (filtered input times 0.5, clipper output
    // times 0.55 and the make-up gain); 0 for a stage not in the path.
    void write(SampleRecord* const* records, int frames, bool tubeOn, bool tapeOn, double tapeMakeup) const
    {
        using L = Lanes<Lane>;
        for (int lane = 0; lane < L::count; ++lane) {
            for (int frame = 0; frame < frames; ++frame) {
                SampleRecord& record = records[lane][frame];
                record.tubeX = tubeOn ? L::lane(tubeIn[frame], lane) * 0.6 : 0.0;
                record.tubeY = tubeOn ? L::lane(tubeOut[frame], lane) * 0.6 : 0.0;
                record.tapeX = tapeOn ? L::lane(preClip[frame], lane) * 0.5 : 0.0;
                record.tapeY = tapeOn ? tapeMakeup * 0.55 * L::lane(clipped[frame], lane) : 0.0;
            }
        }
    }
};
