#pragma once
#include <cstdint>

// The tool's random generator: the platform rand() the tool was written for.
// state = state * 214013 + 2531011 (mod 2^32); result = (state >> 16) & 0x7FFF.
class RandomSource {
public:
    explicit RandomSource(uint32_t seed = 1) : State(seed) {}
    void Seed(uint32_t seed) { State = seed; }
    int32_t Next() {
        State = State * 214013u + 2531011u;
        return int32_t((State >> 16) & 0x7FFF);
    }
    uint32_t GetState() const { return State; }

private:
    uint32_t State;
};
