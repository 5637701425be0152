#include "formats/tags/TagText.h"

#include <array>

#include "foundation/Text.h"

namespace sonitor {

namespace {

constexpr char32_t kReplacement = kUtf8Replacement;

char32_t NextCodePoint(std::string_view text, size_t& pos) {
    char32_t cp;
    DecodeUtf8(text, pos, cp);
    return cp;
}

void AppendUnit(std::string& out, uint16_t unit, bool bigEndian) {
    const char hi = static_cast<char>(unit >> 8);
    const char lo = static_cast<char>(unit & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
}

// The code points of bytes 0x80-0x9F in code page 1252, taken from the one
// conversion the program uses for reading so that writing is its inverse.
const std::array<char32_t, 32>& Cp1252HighTable() {
    static const std::array<char32_t, 32> table = [] {
        std::array<char32_t, 32> t{};
        for (int i = 0; i < 32; ++i) {
            const std::string utf8 = Cp1252ToUtf8(std::string(1, static_cast<char>(0x80 + i)));
            size_t pos = 0;
            t[static_cast<size_t>(i)] = NextCodePoint(utf8, pos);
        }
        return t;
    }();
    return table;
}

}  // namespace

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    const size_t units = bytes.size() / 2;
    auto unitAt = [&](size_t i) -> char32_t {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return bigEndian ? (char32_t{a} << 8 | b) : (char32_t{b} << 8 | a);
    };
    for (size_t i = 0; i < units; ++i) {
        const char32_t u = unitAt(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const char32_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
    }
    return out;
}

std::string Utf8ToUtf16(std::string_view text, bool bigEndian, bool withBom) {
    std::string out;
    out.reserve(text.size() * 2 + 2);
    if (withBom) AppendUnit(out, 0xFEFF, bigEndian);
    for (size_t pos = 0; pos < text.size();) {
        const char32_t cp = NextCodePoint(text, pos);
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            AppendUnit(out, static_cast<uint16_t>(0xD800 + (v >> 10)), bigEndian);
            AppendUnit(out, static_cast<uint16_t>(0xDC00 + (v & 0x3FF)), bigEndian);
        } else {
            AppendUnit(out, static_cast<uint16_t>(cp), bigEndian);
        }
    }
    return out;
}

std::optional<std::string> Utf8ToLatin1(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        const char32_t cp = NextCodePoint(text, pos);
        if (cp > 0xFF || (cp >= 0x80 && cp < 0xA0)) return std::nullopt;
        out += static_cast<char>(cp);
    }
    return out;
}

std::string Utf8ToCp1252(std::string_view text) {
    const auto& high = Cp1252HighTable();
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        const char32_t cp = NextCodePoint(text, pos);
        char byte = '?';
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            byte = static_cast<char>(cp);
        } else {
            for (size_t i = 0; i < high.size(); ++i) {
                if (high[i] == cp) {
                    byte = static_cast<char>(0x80 + i);
                    break;
                }
            }
        }
        out += byte;
    }
    return out;
}

}  // namespace sonitor
