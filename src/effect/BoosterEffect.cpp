#include "effect/BoosterEffect.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr char kEffectName[] = "Grindlemark";
constexpr char kVendorName[] = "OVK";
constexpr char kProductName[] = "OVK Grindlemark";

constexpr float kMinSampleRate = 11025.0f;
constexpr float kMaxSampleRate = 192000.0f;
constexpr VstInt32 kMaxBlockSize = 1048576;

// Copies at most limit characters, zero-fills the rest of the limit and puts a
// terminator at position limit: the host's buffer holds limit + 1 bytes.
void copyText(char* destination, const char* source, std::size_t limit)
{
    std::strncpy(destination, source, limit);
    destination[limit] = 0;
}

bool indexInRange(VstInt32 index) { return static_cast<std::uint32_t>(index) < kNumParameters; }

}  // namespace

BoosterEffect::BoosterEffect(audioMasterCallback host) : AudioEffectX(host, kNumPrograms, kNumParameters)
{
    computeResponseGrid(1.0);

    curProgram = 0;
    for (VstInt32 i = 0; i < kNumParameters; ++i)
        setParameter(i, programs[0].values[i]);

    setSampleRate(44100.0f);
    setBlockSize(256);

    setNumInputs(2);
    setNumOutputs(2);
    setFlag(effFlagsIsSynth, false);
    programsAreChunks(false);
    canProcessReplacing(true);
    canDoubleReplacing(true);
    setUniqueID(kBoosterUniqueId);
    setInitialDelay(0);
}

BoosterEffect::~BoosterEffect()
{
    // Let a setParameter or getParameter still running on another thread leave the lock.
    parameterLock.enter();
    parameterLock.leave();
}

// 173 points from 20 Hz to 20 kHz on a logarithmic axis, each as 4 sin^2(w/2),
// the form in which a second-order section's magnitude is evaluated.
void BoosterEffect::computeResponseGrid(double oversampling)
{
    const double ratio = std::pow(1000.0, 1.0 / 172.0);
    const double piOverRate = kPi / (static_cast<double>(sampleRate) * oversampling);
    double frequency = 20.0;
    for (double& entry : responseGrid) {
        const double s = std::sin(frequency * piOverRate);
        entry = 4.0 * s * s;
        frequency *= ratio;
    }
}

void BoosterEffect::setParameter(VstInt32 index, float value)
{
    if (!indexInRange(index))
        return;
    value = limitParameterValue(value);
    CriticalSectionGuard guard(parameterLock);
    parameterValues[static_cast<std::size_t>(index)] = value;
    changedMask |= 1u << index;
}

float BoosterEffect::getParameter(VstInt32 index)
{
    if (!indexInRange(index))
        return 0.0f;
    CriticalSectionGuard guard(parameterLock);
    return parameterValues[static_cast<std::size_t>(index)];
}

std::uint32_t BoosterEffect::pendingChanges()
{
    CriticalSectionGuard guard(parameterLock);
    return changedMask;
}

void BoosterEffect::setProgram(VstInt32 program)
{
    if (static_cast<std::uint32_t>(program) >= kNumPrograms || program == curProgram)
        return;
    // Edits live in the program they were made in.
    for (VstInt32 i = 0; i < kNumParameters; ++i)
        programs[static_cast<std::size_t>(curProgram)].values[i] = getParameter(i);
    curProgram = program;
    for (VstInt32 i = 0; i < kNumParameters; ++i)
        setParameter(i, programs[static_cast<std::size_t>(curProgram)].values[i]);
}

void BoosterEffect::setProgramName(char* name)
{
    if (!name)
        return;
    std::strncpy(programs[static_cast<std::size_t>(curProgram)].name, name, kProgramNameSize);
}

void BoosterEffect::getProgramName(char* name)
{
    if (!name)
        return;
    const ProgramRecord& record = programs[static_cast<std::size_t>(curProgram)];
    // The stored name need not be terminated: copy by length, not by strncpy of the field alone.
    std::size_t length = strnlen(record.name, kProgramNameSize);
    std::memcpy(name, record.name, length);
    std::memset(name + length, 0, kProgramNameSize + 1 - length);
}

void BoosterEffect::getParameterLabel(VstInt32 /*index*/, char* label)
{
    if (label)
        copyText(label, "", kVstMaxParamStrLen);
}

void BoosterEffect::getParameterDisplay(VstInt32 index, char* text)
{
    if (!text || !indexInRange(index))
        return;
    formatParameterDisplay(index, getParameter(index), text, kVstMaxParamStrLen);
}

void BoosterEffect::getParameterName(VstInt32 index, char* text)
{
    if (!text)
        return;
    copyText(text, indexInRange(index) ? kParameters[static_cast<std::size_t>(index)].name : "Unknown",
             kVstMaxParamStrLen);
}

bool BoosterEffect::getEffectName(char* name)
{
    if (!name)
        return false;
    copyText(name, kEffectName, kVstMaxEffectNameLen);
    return true;
}

bool BoosterEffect::getVendorString(char* text)
{
    if (!text)
        return false;
    copyText(text, kVendorName, kVstMaxVendorStrLen);
    return true;
}

bool BoosterEffect::getProductString(char* text)
{
    if (!text)
        return false;
    copyText(text, kProductName, kVstMaxProductStrLen);
    return true;
}

void BoosterEffect::setSampleRate(float newRate)
{
    if (!(newRate >= kMinSampleRate && newRate <= kMaxSampleRate))
        return;
    sampleRate = newRate;
    // Peak followers release with a 0.3 s time constant at the host rate.
    peakRelease = 1.0 - std::exp(-1.0 / (0.3 * static_cast<double>(newRate)));
    if (scopeInterval.load(std::memory_order_relaxed) != kScopeIntervalUnset) {
        scopeCounter.store(0, std::memory_order_relaxed);
        scopeWriteIndex.store(0, std::memory_order_relaxed);
        // Samples in 33 ms over the ring's 512 slots, rounded half to even.
        scopeInterval.store(static_cast<std::uint32_t>(std::nearbyintf(newRate * 33.0f * (1.0f / 512000.0f))),
                            std::memory_order_relaxed);
        setBlockSize(blockSize);
    }
    // The next processing call re-applies "Oversample", which redoes the rate-dependent work.
    CriticalSectionGuard guard(parameterLock);
    changedMask |= 1u << kOversample;
}

void BoosterEffect::setBlockSize(VstInt32 newSize)
{
    if (newSize <= 0 || newSize > kMaxBlockSize)
        return;
    blockSize = newSize;
    scopeStaging.reset();
    scopeStaging.reset(new (std::nothrow) ScopeFrame[static_cast<std::size_t>(newSize)]());
}

template <typename Sample>
void BoosterEffect::processBlock(Sample** inputs, Sample** outputs, VstInt32 sampleFrames)
{
    if (!inputs || !outputs || !inputs[0] || !outputs[0] || sampleFrames <= 0)
        return;
    const VstInt32 frames = sampleFrames < blockSize ? sampleFrames : blockSize;
    for (int channel = 0; channel < 2; ++channel) {
        if (!inputs[channel] || !outputs[channel])
            break;
        if (inputs[channel] != outputs[channel])
            std::memmove(outputs[channel], inputs[channel], sizeof(Sample) * static_cast<std::size_t>(frames));
    }
}

void BoosterEffect::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    processBlock(inputs, outputs, sampleFrames);
}

void BoosterEffect::processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames)
{
    processBlock(inputs, outputs, sampleFrames);
}
