#include "edit/TimeText.h"

#include <algorithm>
#include <limits>

#include "foundation/Numbers.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

constexpr int64_t kMaxFrames = std::numeric_limits<int32_t>::max();
// Far beyond any frame position; keeps the running total of the fields
// from overflowing.
constexpr int64_t kSecondsCap = int64_t{1} << 40;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), IsDigit);
}

// Decimal digits, saturating at kSecondsCap.
int64_t ParseCapped(std::string_view digits) {
    int64_t v = 0;
    for (char c : digits)
        v = std::min(kSecondsCap, v * 10 + (c - '0'));
    return v;
}

std::string_view TrimSpaces(std::string_view s) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return s;
}

}  // namespace

std::string FormatTimeText(int32_t frames, int32_t sampleRate) {
    int64_t ms = MillisecondsFromFrames(frames, sampleRate);
    const bool negative = ms < 0;
    if (negative) ms = -ms;
    // Rounded to the nearest hundredth, as the status fields show times.
    const int64_t r = ms + 5;
    return Format("%s%ld:%.2ld:%.2ld.%.2ld", negative ? "-" : "", static_cast<long>(r / 3600000),
                  static_cast<long>((r / 60000) % 60), static_cast<long>((r / 1000) % 60),
                  static_cast<long>((r % 1000) / 10));
}

std::optional<int32_t> ParseTimeText(std::string_view text, int32_t sampleRate) {
    text = TrimSpaces(text);
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);

    // Only the last field may carry a fraction.
    std::string_view fraction;
    const size_t dot = text.find('.');
    if (dot != std::string_view::npos) {
        fraction = text.substr(dot + 1);
        text = text.substr(0, dot);
        if (!AllDigits(fraction)) return std::nullopt;
    }

    int64_t seconds = 0;
    for (;;) {
        const size_t colon = text.find(':');
        const std::string_view field = text.substr(0, colon);
        if (!AllDigits(field)) return std::nullopt;
        seconds = std::min(kSecondsCap, seconds * 60 + ParseCapped(field));
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }

    // Nine digits are finer than any sample rate resolves.
    const std::string_view used = fraction.substr(0, 9);
    int64_t scale = 1;
    for (size_t i = 0; i < used.size(); ++i)
        scale *= 10;
    const int64_t rate = std::max(sampleRate, 0);
    const int64_t part = used.empty() ? 0 : ParseCapped(used) * rate / scale;
    const int64_t frames =
        seconds > kMaxFrames ? (rate > 0 ? kMaxFrames : 0) : std::min(kMaxFrames, seconds * rate + part);
    return static_cast<int32_t>(negative ? -frames : frames);
}

}  // namespace sonitor
