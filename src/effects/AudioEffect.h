#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/AudioSink.h"
#include "foundation/AudioSource.h"

namespace sonitor {

class AudioClip;
class ProgressTask;

// An effect that is a processor: a name (the progress caption) and the
// processor it puts over a source.
class AudioEffect {
public:
    virtual ~AudioEffect() = default;
    virtual std::string Name() const = 0;
    virtual Ref<AudioSource> CreateProcessor(Ref<AudioSource> source) = 0;
};

// An AudioEffect from a name and a factory function.
class FunctionEffect final : public AudioEffect {
public:
    using Factory = std::function<Ref<AudioSource>(Ref<AudioSource>)>;
    FunctionEffect(std::string name, Factory factory)
        : name_(std::move(name)), factory_(std::move(factory)) {}
    std::string Name() const override { return name_; }
    Ref<AudioSource> CreateProcessor(Ref<AudioSource> source) override { return factory_(std::move(source)); }

private:
    std::string name_;
    Factory factory_;
};

// The pump: reads [start, end) of processor in blocks of 8192 frames into
// writer, pumping the task and showing progress. Seeks the processor to
// start first when start > 0. kTaskDone (also when end < start: nothing to
// do), kTaskCancelled, or kTaskFailed when the writer fails.
int32_t PumpProcessor(ProgressTask& task, AudioSource& processor, AudioSink& writer, int32_t start,
                      int32_t end);

// Applies effect to [start, end) of clip: a reader over the clip, the
// effect's processor, the pump into a new working clip, and on success the
// written frames replace [start, end). The output has exactly the range's
// length. kTaskDone when applied or when end < start; otherwise the clip is
// left as it was.
int32_t ApplyEffect(ProgressTask& task, AudioClip& clip, int32_t start, int32_t end, AudioEffect& effect);

}  // namespace sonitor
