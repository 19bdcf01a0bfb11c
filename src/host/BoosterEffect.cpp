#include "host/BoosterEffect.h"

#include "host/AEffEditor.h"

#include <cstring>

namespace {

constexpr char kEffectName[] = "Grindlemark";
constexpr char kVendorName[] = GRINDLEMARK_VENDOR_TEXT;
constexpr char kProductName[] = GRINDLEMARK_PRODUCT_TEXT;

// Copies at most limit characters, zero-fills the rest of the limit and puts a
// terminator at position limit: the host's buffer holds limit + 1 bytes.
void copyText(char* destination, const char* source, std::size_t limit)
{
    std::strncpy(destination, source, limit);
    destination[limit] = 0;
}

bool indexInRange(VstInt32 index)
{
    return static_cast<std::uint32_t>(index) < kNumParameters;
}

} // namespace

BoosterEffect::BoosterEffect(audioMasterCallback host, EditorFactory makeEditor)
    : AudioEffectX(host, kNumPrograms, kNumParameters)
{
    setNumInputs(2);
    setNumOutputs(2);
    setFlag(effFlagsIsSynth, false);
    programsAreChunks(false);
    canProcessReplacing(true);
    canDoubleReplacing(true);
    setUniqueID(kBoosterUniqueId);
    setInitialDelay(0);

    // Last: an editor that fails to appear leaves an instance without one.
    if (makeEditor)
        makeEditor(this);
}

BoosterEffect::~BoosterEffect()
{
    // The editor goes first, while everything it detaches itself from still exists.
    delete editor;
}

void BoosterEffect::setSampleRate(float newRate)
{
    booster.setSampleRate(static_cast<double>(newRate));
}

void BoosterEffect::setBlockSize(VstInt32 newSize)
{
    booster.setBlockSize(newSize);
}

void BoosterEffect::getProgramName(char* name)
{
    if (!name)
        return;
    char current[kProgramNameSize + 1];
    booster.programName(current);
    std::memcpy(name, current, sizeof(current));
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

void BoosterEffect::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    booster.process(inputs, outputs, sampleFrames);
}

void BoosterEffect::processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames)
{
    booster.process(inputs, outputs, sampleFrames);
}
