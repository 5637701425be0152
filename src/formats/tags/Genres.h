#pragma once

#include <span>
#include <string>
#include <string_view>

namespace sonitor {

// The ID3v1 genre list with its common extensions: index 0 "Blues" through
// 146 "Jpop". A genre byte of 147 or more means no genre.
inline constexpr int kGenreCount = 147;

std::span<const std::string_view> GenreNames();
// The name of a genre index; empty when out of range.
std::string_view GenreName(int index);
// The index of a name (or of a common other spelling of one), compared
// case-insensitively; -1 when none matches.
int FindGenre(std::string_view name);

// The genre text of an ID3v2 "TCON" frame in plain words: references to the
// list ("(17)", or bare digits as later versions write them) become names,
// "(RX)" and "(CR)" become "Remix" and "Cover", a refinement after the
// references wins over them, of several references the first counts, and a
// doubled "((" stands for a literal "(".
std::string ResolveGenreText(std::string_view text);

}  // namespace sonitor
