#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonitor {

// The time text of Select Specified Time: "%ld:%.2ld:%.2ld.%.2ld" (hours,
// minutes, seconds, hundredths) for a frame position at rate.
std::string FormatTimeText(int32_t frames, int32_t sampleRate);

// Reads time text back into frames at rate: fields separated by ':' (each
// multiplies the total so far by 60), an optional '.' fraction and an
// optional leading '-'. Nothing for text that is not a time (letters, empty
// fields, a second '.'); values beyond the frame range saturate.
std::optional<int32_t> ParseTimeText(std::string_view text, int32_t sampleRate);

}  // namespace sonitor
