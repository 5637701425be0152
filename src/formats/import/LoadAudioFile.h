#pragma once

#include <cstdint>
#include <string>

#include "formats/import/ImportDispatcher.h"
#include "foundation/AudioSource.h"

namespace sonitor {

class ProgressTask;
class SoundDocument;

// Task work of opening a file into a document: progress lines
// "Loading file <name>" and "Please wait...", OpenAudioSource, then the
// copy into a fresh clip of the source's rate and channels. Only a complete
// copy changes the document: it then holds the new clip, is named path,
// carries the file's tags and is not modified. Any other result (cancelled,
// failed, or a code passed on from a decoder) leaves it as it was and is
// returned as it is.
int32_t LoadAudioFile(ProgressTask& task, SoundDocument& document, const std::string& path, uint8_t& interact,
                      const OpenAudioOptions& options = {});

// For inserting or mixing a file into a document of another format: when
// source already has rate and channels, returns 0 and leaves it. Otherwise
// copies it, converted, into a working clip ("Converting rate or
// channels...") and on success replaces source by a reader of that clip.
int32_t LoadAudioFileConverted(ProgressTask& task, Ref<AudioSource>& source, int32_t sampleRate,
                               int channels);

}  // namespace sonitor
