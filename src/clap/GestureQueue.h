// The editor's edits on their way to the host: gesture begin, value and end
// events written on the main thread and read by whichever call hands them to
// the host next (process on the audio thread, or flush). One writer, one
// reader at a time; nothing waits and nothing allocates.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

struct Gesture {
    enum Kind : std::uint8_t { begin, change, end };
    Kind kind;
    std::uint8_t parameter; // 0..7
    float value;            // normalised, for changes
};

class GestureQueue {
public:
    static constexpr std::uint32_t kCapacity = 256;

    // Writer side. A begin is queued only with room for its end as well, and
    // a value only with room for the ends of every gesture still open, so a
    // host that is slow to take them never sees a gesture left unfinished.
    // An end whose begin was dropped is dropped too.
    void begin(int parameter)
    {
        const auto bit = 1u << parameter;
        if (open & bit)
            return;
        if (room() < openCount() + 2)
            return;
        push({Gesture::begin, static_cast<std::uint8_t>(parameter), 0.0f});
        open |= bit;
    }
    void value(int parameter, float value)
    {
        if (room() >= openCount() + 1)
            push({Gesture::change, static_cast<std::uint8_t>(parameter), value});
    }
    void end(int parameter)
    {
        const auto bit = 1u << parameter;
        if (!(open & bit))
            return;
        push({Gesture::end, static_cast<std::uint8_t>(parameter), 0.0f});
        open &= ~bit;
    }
    // Ends every gesture still open (the editor went away in the middle of one).
    void endAll()
    {
        for (int parameter = 0; open; ++parameter)
            end(parameter);
    }

    // Reader side: the next event, false when none is waiting.
    bool pop(Gesture& gesture)
    {
        const std::uint32_t first = readIndex.load(std::memory_order_relaxed);
        if (first == writeIndex.load(std::memory_order_acquire))
            return false;
        gesture = slots[first % kCapacity];
        readIndex.store(first + 1, std::memory_order_release);
        return true;
    }
    bool empty() const
    {
        return readIndex.load(std::memory_order_acquire) == writeIndex.load(std::memory_order_acquire);
    }

private:
    std::uint32_t room() const
    {
        return kCapacity - (writeIndex.load(std::memory_order_relaxed) - readIndex.load(std::memory_order_acquire));
    }
    std::uint32_t openCount() const
    {
        std::uint32_t count = 0;
        for (std::uint32_t bits = open; bits; bits &= bits - 1)
            ++count;
        return count;
    }
    void push(const Gesture& gesture)
    {
        const std::uint32_t next = writeIndex.load(std::memory_order_relaxed);
        slots[next % kCapacity] = gesture;
        writeIndex.store(next + 1, std::memory_order_release);
    }

    std::array<Gesture, kCapacity> slots{};
    std::atomic<std::uint32_t> writeIndex{0};
    std::atomic<std::uint32_t> readIndex{0};
    std::uint32_t open = 0; // writer's own: gestures begun and not yet ended
};
