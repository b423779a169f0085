// Seeded random source with distributions implemented here, so a seed gives
// the same scenes with any standard library.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

namespace zor::render {

class Rng {
public:
    explicit Rng(std::uint64_t seed) : engine_(static_cast<std::uint32_t>(seed ^ (seed >> 32) ^ 0x9E3779B9u)) {}

    std::uint32_t next() { return static_cast<std::uint32_t>(engine_()); }

    // [0, 1)
    double uniform() { return next() * (1.0 / 4294967296.0); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    float uniformF(double lo, double hi) { return static_cast<float>(uniform(lo, hi)); }
    // Inclusive range.
    int uniformInt(int lo, int hi) { return lo + static_cast<int>(uniform() * (hi - lo + 1)); }
    bool chance(double p) { return uniform() < p; }
    // Log-uniform: sizes spread evenly over octaves.
    double logUniform(double lo, double hi) { return lo * std::exp(uniform() * std::log(hi / lo)); }
    template <typename T, std::size_t N>
    const T& pick(const T (&items)[N]) {
        return items[static_cast<std::size_t>(uniformInt(0, static_cast<int>(N) - 1))];
    }

private:
    std::mt19937 engine_;
};

// Independent stream per item so that item i does not depend on item i-1.
inline std::uint64_t mixSeed(std::uint64_t seed, std::uint64_t index) {
    std::uint64_t z = seed * 0x9E3779B97F4A7C15ull + index + 0x632BE59BD9B4E019ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace zor::render
