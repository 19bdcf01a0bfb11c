// The booster as a VST 2.4 effect: its identity towards the host and the
// dispatcher's operations, each answered by the format-neutral processor.
#pragma once

#include "effect/BoosterProcessor.h"
#include "host/AudioEffectX.h"

static_assert(kBoosterUniqueId == fourCharCode('Q', 'm', '4', 'T'), "the unique ID as four characters");

class BoosterEffect;
// Makes the effect's editor, which attaches itself; null where there is none.
using EditorFactory = AEffEditor* (*)(BoosterEffect* effect);

class BoosterEffect : public AudioEffectX {
public:
    // The editor, if a factory is given, is created last and attaches itself.
    explicit BoosterEffect(audioMasterCallback host, EditorFactory makeEditor = nullptr);
    ~BoosterEffect() override;

    // The host changes the rate and block size only while the effect is
    // suspended; values the processor refuses leave the old ones.
    void setSampleRate(float newRate) override;
    void setBlockSize(VstInt32 newSize) override;
    float getSampleRate() override { return static_cast<float>(booster.sampleRate()); }
    VstInt32 getBlockSize() override { return booster.blockSize(); }
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames) override;

    // Any thread. Values are limited to 0..1 (NaN stored as 0); indices above 7 are ignored.
    void setParameter(VstInt32 index, float value) override { booster.setParameter(index, value); }
    float getParameter(VstInt32 index) override { return booster.getParameter(index); }

    VstInt32 getProgram() override { return booster.program(); }
    void setProgram(VstInt32 program) override { booster.setProgram(program); }
    void setProgramName(char* name) override { booster.setProgramName(name); }
    void getProgramName(char* name) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;

    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override { return kBoosterVendorVersion; }

    BoosterProcessor& processor() { return booster; }

private:
    BoosterProcessor booster;
};
