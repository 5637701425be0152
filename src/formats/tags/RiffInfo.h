#pragma once

#include <string>

#include "formats/tags/TagMap.h"

namespace sonitor {

// Tags of WAV files: the "INFO" list and the "DISP" chunk. Our mapping of
// keys to INFO ids, used both ways: title "IPRD" (read; written as a DISP
// text chunk), artist "IART", album "INAM", date "ICOP", comment "ICMT",
// track "ITRK", genre "IGNR".

// Steps over blocks before the RIFF/WAVE header as the WAV reader does,
// then walks the top-level chunks and stores what the INFO lists and the
// text DISP chunks hold, fill-only. False when the file cannot be opened or
// has no RIFF/WAVE header.
bool ReadWavTags(const std::string& path, TagMap& tags);

// Updates the file in place. Every INFO entry of ours is blanked (its id
// becomes four spaces) and reused for a new value of the same size; text
// DISP chunks are reused for the new title when the size matches, else
// blanked. What is left is appended at the end as a new "LIST"/"INFO" chunk
// and a "DISP" chunk, after a pad byte when the file ends at an odd offset,
// and the RIFF size is set to cover them. Nothing is written when an append
// is needed but the chunks do not end cleanly at the end of the file (a
// chunk running past it, as after a writer that never finished) or the form
// would outgrow the 32-bit RIFF size; the result is then false.
bool WriteWavTags(const std::string& path, const TagMap& tags);

}  // namespace sonitor
