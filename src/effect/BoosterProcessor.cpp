#include "effect/BoosterProcessor.h"

#include <cmath>
#include <cstring>
#include <new>
#include <thread>

namespace {

constexpr double kPi = 3.141592653589793;

bool indexInRange(int index)
{
    return static_cast<std::uint32_t>(index) < kNumParameters;
}

bool programInRange(int program)
{
    return static_cast<std::uint32_t>(program) < kNumPrograms;
}

// A name field need not be terminated: copy by length, and zero the rest.
void copyName(const ProgramRecord& record, char (&name)[kProgramNameSize + 1])
{
    const std::size_t length = strnlen(record.name, kProgramNameSize);
    std::memcpy(name, record.name, length);
    std::memset(name + length, 0, kProgramNameSize + 1 - length);
}

} // namespace

BoosterProcessor::BoosterProcessor()
{
    computeResponseGrid(1.0);
    for (int i = 0; i < kNumParameters; ++i)
        setParameter(i, programs[0].values[i]);
    setSampleRate(44100.0);
    setBlockSize(256);
}

BoosterProcessor::~BoosterProcessor()
{
    // Let a setParameter or getParameter still running on another thread leave the lock.
    parameterLock.enter();
    parameterLock.leave();
}

// 173 points from 20 Hz to 20 kHz on a logarithmic axis, each as 4 sin^2(w/2),
// the form in which a second-order section's magnitude is evaluated.
void BoosterProcessor::computeResponseGrid(double oversampling)
{
    const double ratio = std::pow(1000.0, 1.0 / 172.0);
    const double piOverRate = kPi / (static_cast<double>(hostRate.load(std::memory_order_relaxed)) * oversampling);
    double frequency = 20.0;
    for (double& entry : responseGrid) {
        const double s = std::sin(frequency * piOverRate);
        entry = 4.0 * s * s;
        frequency *= ratio;
    }
}

void BoosterProcessor::setParameter(int index, float value)
{
    if (!indexInRange(index))
        return;
    value = limitParameterValue(value);
    CriticalSectionGuard guard(parameterLock);
    takeWaitingValues();
    parameterValues[static_cast<std::size_t>(index)] = value;
    latestValues[static_cast<std::size_t>(index)].store(value, std::memory_order_relaxed);
    changedMask |= 1u << index;
}

void BoosterProcessor::setParameterFromAudio(int index, float value)
{
    if (!indexInRange(index))
        return;
    value = limitParameterValue(value);
    latestValues[static_cast<std::size_t>(index)].store(value, std::memory_order_relaxed);
    waitingMask.fetch_or(1u << index, std::memory_order_release);
    if (parameterLock.tryEnter()) {
        takeWaitingValues();
        parameterLock.leave();
    }
}

void BoosterProcessor::takeWaitingValues()
{
    if (waitingMask.load(std::memory_order_relaxed) == 0)
        return;
    const std::uint32_t waiting = waitingMask.exchange(0, std::memory_order_acquire);
    for (int i = 0; i < kNumParameters; ++i)
        if (waiting & (1u << i))
            parameterValues[static_cast<std::size_t>(i)] =
                latestValues[static_cast<std::size_t>(i)].load(std::memory_order_relaxed);
    changedMask |= waiting;
}

float BoosterProcessor::getParameter(int index)
{
    if (!indexInRange(index))
        return 0.0f;
    CriticalSectionGuard guard(parameterLock);
    takeWaitingValues();
    return parameterValues[static_cast<std::size_t>(index)];
}

float BoosterProcessor::latestParameter(int index) const
{
    return indexInRange(index) ? latestValues[static_cast<std::size_t>(index)].load(std::memory_order_relaxed) : 0.0f;
}

std::uint32_t BoosterProcessor::pendingChanges()
{
    CriticalSectionGuard guard(parameterLock);
    takeWaitingValues();
    return changedMask;
}

int BoosterProcessor::program() const
{
    return currentProgram.load(std::memory_order_relaxed);
}

void BoosterProcessor::setProgram(int newProgram)
{
    const int current = program();
    if (!programInRange(newProgram) || newProgram == current)
        return;
    // Edits live in the program they were made in.
    for (int i = 0; i < kNumParameters; ++i)
        programs[static_cast<std::size_t>(current)].values[i] = getParameter(i);
    currentProgram.store(newProgram, std::memory_order_relaxed);
    for (int i = 0; i < kNumParameters; ++i)
        setParameter(i, programs[static_cast<std::size_t>(newProgram)].values[i]);
}

void BoosterProcessor::restore(int newProgram, const std::array<float, kNumParameters>& values)
{
    if (!programInRange(newProgram))
        return;
    currentProgram.store(newProgram, std::memory_order_relaxed);
    for (int i = 0; i < kNumParameters; ++i)
        setParameter(i, values[static_cast<std::size_t>(i)]);
}

void BoosterProcessor::programName(char (&name)[kProgramNameSize + 1]) const
{
    copyName(programs[static_cast<std::size_t>(program())], name);
}

void BoosterProcessor::programNameOf(int index, char (&name)[kProgramNameSize + 1]) const
{
    if (programInRange(index))
        copyName(programs[static_cast<std::size_t>(index)], name);
    else
        std::memset(name, 0, sizeof(name));
}

void BoosterProcessor::setProgramName(const char* name)
{
    if (!name)
        return;
    std::strncpy(programs[static_cast<std::size_t>(program())].name, name, kProgramNameSize);
}

int BoosterProcessor::latencyFrames() const
{
    return oversamplingFactorOf(latestParameter(kOversample)) > 1.0 ? Oversampler::latencyFrames : 0;
}

std::uint32_t BoosterProcessor::scopeIntervalFor(float rate) const
{
    // Samples in 33 ms over the ring's 512 slots, in single precision, rounded half to even.
    return static_cast<std::uint32_t>(std::nearbyintf(rate * 33.0f * (1.0f / 512000.0f)));
}

bool BoosterProcessor::setSampleRate(double rate)
{
    if (!(rate >= kMinSampleRate && rate <= kMaxSampleRate))
        return false;
    const auto newRate = static_cast<float>(rate);
    // Ready before processing can see the new rate.
    prepareTables(static_cast<double>(newRate));
    hostRate.store(newRate, std::memory_order_relaxed);
    if (scopeInterval.load(std::memory_order_relaxed) != kScopeIntervalUnset) {
        scopeCounter.store(0, std::memory_order_relaxed);
        scopeWriteIndex.store(0, std::memory_order_relaxed);
        scopeInterval.store(scopeIntervalFor(newRate), std::memory_order_relaxed);
    }
    reapplyRate();
    return true;
}

// The next processing call re-applies "Oversample", which takes the rate and
// its tables into the engine and redoes the rate-dependent work.
void BoosterProcessor::reapplyRate()
{
    CriticalSectionGuard guard(parameterLock);
    changedMask |= 1u << kOversample;
}

bool BoosterProcessor::setBlockSize(int frames)
{
    if (frames <= 0 || frames > kMaxBlockSize)
        return false;
    framesPerBlock.store(frames, std::memory_order_relaxed);
    // Tables that processing asked for (a build that failed earlier).
    if (tablesWanted.exchange(false, std::memory_order_relaxed) &&
        prepareTables(static_cast<double>(hostRate.load(std::memory_order_relaxed))))
        reapplyRate();
    return true;
}

// Under preparedLock.
const PreparedTriodeTables* BoosterProcessor::preparedTablesFor(double rate) const
{
    for (const auto& slot : tableSlots)
        if (slot && slot->hostRate == rate)
            return slot.get();
    return nullptr;
}

bool BoosterProcessor::prepareTables(double rate)
{
    {
        CriticalSectionGuard guard(preparedLock);
        if (preparedTablesFor(rate))
            return true;
    }
    // Solved outside the lock, which processing only ever tries.
    std::unique_ptr<const PreparedTriodeTables> fresh;
    try {
        fresh = std::make_unique<const PreparedTriodeTables>(rate);
    } catch (const std::bad_alloc&) {
        tablesWanted.store(true, std::memory_order_relaxed);
        return false; // processing runs bypassed at this rate until a later call builds them
    }
    std::unique_ptr<const PreparedTriodeTables> retired;
    {
        CriticalSectionGuard guard(preparedLock);
        auto& slot = tableSlots[0].get() == engine.triodeTables() ? tableSlots[1] : tableSlots[0];
        retired = std::move(slot);
        slot = std::move(fresh);
    }
    return true;
}

double BoosterProcessor::sampleRate() const
{
    return static_cast<double>(hostRate.load(std::memory_order_relaxed));
}

int BoosterProcessor::blockSize() const
{
    return framesPerBlock.load(std::memory_order_relaxed);
}

void BoosterProcessor::startScopeFeed()
{
    scopeCounter.store(0, std::memory_order_relaxed);
    scopeWriteIndex.store(0, std::memory_order_relaxed);
    scopeInterval.store(scopeIntervalFor(hostRate.load(std::memory_order_relaxed)), std::memory_order_relaxed);
}

void BoosterProcessor::stopScopeFeed()
{
    scopeInterval.store(kScopeIntervalUnset, std::memory_order_relaxed);
    scopeCounter.store(0, std::memory_order_relaxed);
    scopeWriteIndex.store(0, std::memory_order_relaxed);
}

bool BoosterProcessor::takeResponseCurve(std::array<double, kResponsePoints>& curve)
{
    if (!displayLock.tryEnter())
        return false;
    const bool ready = responseReady != 0;
    if (ready) {
        curve = responseCurve;
        responseReady = 0;
    }
    displayLock.leave();
    return ready;
}

namespace {

// A level parameter in dB (scale and offset from the table) as a linear gain.
double gainOf(int index, float value)
{
    return std::pow(10.0, scaledValue(index, value) * 0.05);
}

} // namespace

// Hands the parameters whose bits were set to the engine, in a fixed order.
void BoosterProcessor::applyParameterChanges()
{
    if (!parameterLock.tryEnter())
        return; // the changes wait in changedMask and their slots for a later call
    takeWaitingValues();
    const std::uint32_t changed = changedMask | deferredChanges;
    std::array<float, kNumParameters> values{};
    if (changed > 0) {
        changedMask = 0;
        values = parameterValues;
    }
    parameterLock.leave();
    deferredChanges = 0;
    if (changed == 0)
        return;

    auto isChanged = [changed](int index) { return (changed & (1u << index)) != 0; };
    if (isChanged(kDrive))
        engine.setDrive(gainOf(kDrive, values[kDrive]));
    if (isChanged(kLevel))
        engine.setLevel(gainOf(kLevel, values[kLevel]));
    if (isChanged(kEnable))
        engine.setEnabled(parameterStep(kEnable, values[kEnable]) != 0);
    if (isChanged(kMode))
        engine.setMode(parameterStep(kMode, values[kMode]));
    if (isChanged(kChannels))
        channelCount = parameterStep(kChannels, values[kChannels]) + 1;
    if (isChanged(kCharacter) || isChanged(kAmount)) {
        double amount = engine.amount();
        const double newAmount = static_cast<double>(values[kAmount]);
        // Changes below 0.01 keep the old amount (the design still runs).
        if (isChanged(kAmount) && static_cast<long>((amount - newAmount) * 100.0) != 0)
            amount = newAmount;
        const std::int32_t character =
            isChanged(kCharacter) ? parameterStep(kCharacter, values[kCharacter]) : engine.characterIndex();
        engine.setCharacter(character, amount);
        responsePending = 1;
    }
    if (isChanged(kOversample)) {
        // The tables for a new rate are built on the host's thread and handed
        // over by pointer; while the host swaps them in, the change waits for
        // a later call.
        if (!preparedLock.tryEnter()) {
            deferredChanges |= 1u << kOversample;
            return;
        }
        const double rate = static_cast<double>(hostRate.load(std::memory_order_relaxed));
        engine.setChainRate(rate, oversamplingFactorOf(values[kOversample]), preparedTablesFor(rate));
        preparedLock.leave();
        if (engine.needsTriodeTables())
            tablesWanted.store(true, std::memory_order_relaxed);
        // Peak followers release with a 0.3 s time constant at the host rate.
        peakRelease = 1.0 - std::exp(-1.0 / (0.3 * rate));
        computeResponseGrid(engine.oversampling());
        responsePending = 1;
    }
}

void BoosterProcessor::refreshResponseCurve()
{
    if (!responsePending || !displayLock.tryEnter())
        return;
    for (int n = 0; n < kResponsePoints; ++n)
        responseCurve[static_cast<std::size_t>(n)] = engine.responseAt(responseGrid[static_cast<std::size_t>(n)]);
    responseReady = 1;
    displayLock.leave();
    responsePending = 0;
}

ScopeFrame* BoosterProcessor::lockScopeRing(EditorDisplay& target)
{
    for (int i = 0; i < 3; ++i) {
        if (!target.ringLocks[i].tryEnter()) {
            while (--i >= 0)
                target.ringLocks[i].leave();
            return nullptr;
        }
    }
    return target.scopeRing.data();
}

void BoosterProcessor::detachDisplay()
{
    display.store(nullptr, std::memory_order_seq_cst);
    // A processing call that saw the old pointer finishes its hand-off first.
    while (handOffActive.load(std::memory_order_seq_cst))
        std::this_thread::yield();
}

void BoosterProcessor::handOffToEditor(std::uint32_t framesStaged)
{
    // Announce the hand-off before looking at the pointer: detachDisplay
    // clears the pointer before waiting for the announcement to end.
    handOffActive.store(true, std::memory_order_seq_cst);
    EditorDisplay* target = display.load(std::memory_order_seq_cst);
    if (target && scopeInterval.load(std::memory_order_relaxed) != kScopeIntervalUnset)
        handOffTo(*target, framesStaged);
    handOffActive.store(false, std::memory_order_seq_cst);
}

void BoosterProcessor::handOffTo(EditorDisplay& target, std::uint32_t framesStaged)
{
    if (ScopeFrame* ring = lockScopeRing(target)) {
        std::int32_t writeIndex = scopeWriteIndex.load(std::memory_order_relaxed);
        for (std::uint32_t i = 0; i < framesStaged; ++i) {
            // Point 2 of each slot belongs to the editor.
            ring[writeIndex].points[0] = scopeStaging[i].points[0];
            ring[writeIndex].points[1] = scopeStaging[i].points[1];
            writeIndex = (writeIndex + 1) % kScopeRingSize;
        }
        scopeWriteIndex.store(writeIndex, std::memory_order_relaxed);
        for (CriticalSection& lock : target.ringLocks)
            lock.leave();
    }
    if (target.meterLock.tryEnter()) {
        target.meterLevels = peakLevels;
        target.meterLock.leave();
    }
}

namespace {

// The input as the engine may see it: not-a-number and infinite samples would
// leave the recursive filters stuck, so they enter as silence.
inline double guardedInput(double sample)
{
    return std::isfinite(sample) ? sample : 0.0;
}

constexpr double kInputNoiseScale = 1.1754943508222875e-38 * 1e10; // 2^-126 * 10^10

inline double withNoise(double x, std::uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return x + static_cast<double>(state) * kInputNoiseScale;
}

inline void followPeak(double& follower, double value, double release)
{
    const double magnitude = std::fabs(value);
    if (magnitude >= follower)
        follower = magnitude;
    else
        follower = follower + (magnitude - follower) * release;
}

} // namespace

template <typename Sample, BoosterProcessor::Layout layout>
void BoosterProcessor::processFrames(Sample** inputs, Sample** outputs, int first, int frames, NoiseStates& noise)
{
    Sample* inLeft = inputs[0] + first;
    Sample* outLeft = outputs[0] + first;
    Sample* inRight = layout == Layout::stereo ? inputs[1] + first : nullptr;
    Sample* outRight = layout == Layout::single ? nullptr : outputs[1] + first;
    std::uint32_t& leftNoise =
        layout == Layout::stereo ? noise.left : (layout == Layout::mono ? noise.mono : noise.single);

    ScopeFrame* staging = scopeStaging.data();
    const std::uint32_t interval = scopeInterval.load(std::memory_order_relaxed);
    std::uint32_t counter = scopeCounter.load(std::memory_order_relaxed);

    // The engine takes the frames in short runs, so that the chain's state
    // stays in registers across many samples.
    constexpr int runLength = 32;
    SampleRecord leftRecords[runLength];
    SampleRecord rightRecords[runLength];
    for (int start = 0; start < frames; start += runLength) {
        const int run = frames - start < runLength ? frames - start : runLength;
        for (int i = 0; i < run; ++i) {
            const double left = withNoise(guardedInput(static_cast<double>(inLeft[start + i])), leftNoise);
            followPeak(peakLevels[0], left, peakRelease);
            leftRecords[i] = SampleRecord{left, 0.0, 0, 0.0, 0.0, 0.0, 0.0};
            if (layout == Layout::stereo) {
                const double right = withNoise(guardedInput(static_cast<double>(inRight[start + i])), noise.right);
                followPeak(peakLevels[1], right, peakRelease);
                rightRecords[i] = SampleRecord{right, 0.0, 1, 0.0, 0.0, 0.0, 0.0};
            }
        }
        // Both channels of a frame at once; the engine keeps the order of
        // left before right in everything the two share.
        if (layout == Layout::stereo)
            engine.processStereoRun(leftRecords, rightRecords, run);
        else
            engine.processRun(leftRecords, run);

        for (int i = 0; i < run; ++i) {
            const SampleRecord& record = leftRecords[i];
            followPeak(peakLevels[2], record.output, peakRelease);
            outLeft[start + i] = static_cast<Sample>(record.output);
            if (layout == Layout::mono)
                outRight[start + i] = static_cast<Sample>(record.output);
            if (layout == Layout::stereo) {
                followPeak(peakLevels[3], rightRecords[i].output, peakRelease);
                outRight[start + i] = static_cast<Sample>(rightRecords[i].output);
            }

            // At most one frame per sample, taken from the left channel.
            if (++counter > interval) {
                staging[stagedFrames].points[0] = {record.tubeX, record.tubeY};
                staging[stagedFrames].points[1] = {record.tapeX, record.tapeY};
                ++stagedFrames;
                counter = 0;
            }
        }
    }
    scopeCounter.store(counter, std::memory_order_relaxed);
}

template <typename Sample>
void BoosterProcessor::processBlock(Sample** inputs, Sample** outputs, int sampleFrames, NoiseStates& noise)
{
    applyParameterChanges();
    refreshResponseCurve();
    if (!inputs || !outputs || !inputs[0] || !outputs[0])
        return;

    // Every frame asked for, in stretches no longer than the announced block
    // size or the scope staging; the chain carries its state across them, so
    // the output is what calls of those lengths would give.
    const int announced = framesPerBlock.load(std::memory_order_relaxed);
    const int stretch = announced < kScopeStagingFrames ? announced : kScopeStagingFrames;
    const bool stereoBuffers = inputs[1] && outputs[1];
    int first = 0;
    for (;;) {
        const int remaining = sampleFrames - first;
        const int frames = remaining < 0 ? 0 : (remaining < stretch ? remaining : stretch);
        stagedFrames = 0;
        if (stereoBuffers && channelCount == 2) {
            processFrames<Sample, Layout::stereo>(inputs, outputs, first, frames, noise);
        } else {
            if (stereoBuffers)
                processFrames<Sample, Layout::mono>(inputs, outputs, first, frames, noise);
            else
                processFrames<Sample, Layout::single>(inputs, outputs, first, frames, noise);
            // The right meters mirror the left.
            peakLevels[1] = peakLevels[0];
            peakLevels[3] = peakLevels[2];
        }
        handOffToEditor(stagedFrames);
        if (remaining <= stretch)
            break;
        first += stretch;
    }
}

void BoosterProcessor::process(float** inputs, float** outputs, int frames)
{
    processBlock(inputs, outputs, frames, floatNoise);
}

void BoosterProcessor::process(double** inputs, double** outputs, int frames)
{
    processBlock(inputs, outputs, frames, doubleNoise);
}
