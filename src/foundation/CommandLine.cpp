#include "foundation/CommandLine.h"

namespace sonitor {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view text) {
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && IsBlank(text[i]))
        ++i;
    if (i == n) return words;

    // The program: no escapes, so "C:\dir\" style paths survive.
    std::string program;
    if (text[i] == '"') {
        ++i;
        while (i < n && text[i] != '"')
            program += text[i++];
        if (i < n) ++i;
    }
    while (i < n && !IsBlank(text[i])) {
        if (text[i] != '"') program += text[i];
        ++i;
    }
    words.push_back(std::move(program));

    for (;;) {
        while (i < n && IsBlank(text[i]))
            ++i;
        if (i == n) break;
        std::string word;
        bool quoted = false;
        while (i < n && (quoted || !IsBlank(text[i]))) {
            if (text[i] == '\\') {
                size_t slashes = 0;
                while (i < n && text[i] == '\\') {
                    ++slashes;
                    ++i;
                }
                if (i < n && text[i] == '"') {
                    word.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) {
                        word += '"';
                        ++i;
                    }
                    // An even count leaves the quote for the next round.
                } else {
                    word.append(slashes, '\\');
                }
            } else if (text[i] == '"') {
                if (quoted && i + 1 < n && text[i + 1] == '"') {
                    word += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                word += text[i++];
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::string QuoteArgument(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
        return std::string(argument);
    }
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"') {
            out.append(slashes * 2 + 1, '\\');
        } else {
            out.append(slashes, '\\');
        }
        slashes = 0;
        out += c;
    }
    // Doubled so the closing quote is not escaped.
    out.append(slashes * 2, '\\');
    out += '"';
    return out;
}

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments[0].empty() || arguments[0].find('"') != std::string::npos) {
        return {};
    }
    std::string out = "\"" + arguments[0] + "\"";
    for (size_t k = 1; k < arguments.size(); ++k) {
        out += ' ';
        out += QuoteArgument(arguments[k]);
    }
    return out;
}

}  // namespace sonitor
