#pragma once

#include <array>
#include <optional>

namespace sensors {

// The three sample rates the settings offer, by the index of the rate control's segment.
struct SampleRate {
    int perSecond;
    double interval; // seconds between readings, exactly as the service is given it
};

inline constexpr std::array<SampleRate, 3> kSampleRates = {{
    {40, 0.025},
    {80, 0.0125},
    {120, 1.0 / 120.0},
}};

// The rate of segment `index`; nullopt for an index no segment has.
inline std::optional<SampleRate> sampleRateAt(int index) {
    if (index < 0 || index >= int(kSampleRates.size()))
        return std::nullopt;
    return kSampleRates[std::size_t(index)];
}

} // namespace sensors
