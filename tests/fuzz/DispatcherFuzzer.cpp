// libFuzzer target: a byte stream decoded into host calls (any opcode, index,
// value and float, valid pointers only), parameter changes and processing
// calls of any size, layout and content.
#include "host/VstAbi.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host);

namespace {

VstIntPtr VSTCALLBACK fuzzHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    bool empty() const { return position >= size; }
    template <typename T> T read()
    {
        T value{};
        const std::size_t count = std::min(sizeof(T), size - std::min(size, position));
        std::memcpy(&value, data + position, count);
        position += sizeof(T);
        return value;
    }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

template <typename Sample> void process(AEffect* effect, ByteReader& reader)
{
    const auto frames = static_cast<VstInt32>(reader.read<std::uint16_t>() % 700) - 20; // a few negative counts too
    const std::uint8_t layout = reader.read<std::uint8_t>();
    const std::size_t length = 800;
    std::vector<Sample> left(length), right(length), outLeft(length), outRight(length);
    for (std::size_t i = 0; i < length && !reader.empty(); i += 37) {
        left[i] = reader.read<Sample>();
        right[i] = reader.read<Sample>();
    }
    Sample* inputs[2] = {left.data(), (layout & 1) ? right.data() : nullptr};
    Sample* outputs[2] = {outLeft.data(), (layout & 2) ? outRight.data() : nullptr};
    if (layout & 4) // in place
        outputs[0] = inputs[0];
    Sample** in = (layout & 8) ? nullptr : inputs;
    if constexpr (sizeof(Sample) == sizeof(float))
        effect->processReplacing(effect, in, outputs, frames);
    else
        effect->processDoubleReplacing(effect, in, outputs, frames);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ByteReader reader(data, size);
    AEffect* effect = VSTPluginMain(fuzzHost);
    if (!effect)
        return 0;
    int steps = 0;
    while (!reader.empty() && ++steps < 200) {
        switch (reader.read<std::uint8_t>() % 5) {
        case 0: {
            const auto opcode = static_cast<VstInt32>(reader.read<std::int8_t>()) + 40; // -88 .. 167
            const auto index = static_cast<VstInt32>(reader.read<std::int16_t>());
            auto value = static_cast<VstIntPtr>(reader.read<std::int32_t>());
            const float opt = reader.read<float>();
            alignas(16) unsigned char buffer[256] = {};
            void* location = nullptr;
            void* ptr = (reader.read<std::uint8_t>() & 1) ? static_cast<void*>(buffer) : nullptr;
            if (opcode == effGetSpeakerArrangement || opcode == effSetSpeakerArrangement)
                value = reinterpret_cast<VstIntPtr>(&location); // these read value as a pointer
            if (opcode == effClose) {
                effect->dispatcher(effect, effClose, index, value, ptr, opt);
                effect = VSTPluginMain(fuzzHost);
                if (!effect)
                    return 0;
            } else {
                effect->dispatcher(effect, opcode, index, value, ptr, opt);
            }
            break;
        }
        case 1:
            effect->setParameter(effect, static_cast<VstInt32>(reader.read<std::int8_t>()), reader.read<float>());
            break;
        case 2:
            effect->getParameter(effect, static_cast<VstInt32>(reader.read<std::int8_t>()));
            break;
        case 3:
            process<float>(effect, reader);
            break;
        default:
            process<double>(effect, reader);
            break;
        }
    }
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    return 0;
}
