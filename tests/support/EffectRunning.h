#pragma once

// Running a catalogue effect on part of a clip the way the effect command
// does, with the stored defaults and a few values changed.
#include <cstdint>

#include <gtest/gtest.h>

#include "document/ProgressTask.h"
#include "effects/EffectCatalogue.h"
#include "support/ScriptedTaskHost.h"

namespace sonitor::test {

inline int32_t RunEffect(const char* id, AudioClip& clip, int32_t start, int32_t end,
                         const EffectValues& changes, TaskHost& host) {
    const EffectDefinition* effect = FindEffect(id);
    EXPECT_NE(effect, nullptr) << id;
    if (effect == nullptr) return kTaskFailed;
    EffectValues values = DefaultEffectValues(*effect);
    for (const auto& [key, value] : changes)
        values[key] = value;
    EffectRange range{clip, start, end};
    FunctionTask task(effect->name, [&](ProgressTask& t) { return effect->run(t, range, values); });
    return RunTask(task, host);
}

inline int32_t RunEffect(const char* id, AudioClip& clip, int32_t start, int32_t end, TaskHost& host) {
    return RunEffect(id, clip, start, end, {}, host);
}

inline int32_t RunEffect(const char* id, AudioClip& clip, int32_t start, int32_t end) {
    ScriptedTaskHost host;
    return RunEffect(id, clip, start, end, {}, host);
}

}  // namespace sonitor::test
