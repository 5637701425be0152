#include "support/ScriptedTaskHost.h"

namespace sonitor::test {

bool ScriptedTaskHost::OpenProgress(ProgressTask&) {
    if (failToOpen) return false;
    ++opens;
    return true;
}

bool ScriptedTaskHost::Pump(ProgressTask&) {
    ++pumps;
    return cancelAfterPumps >= 0 && pumps > cancelAfterPumps;
}

}  // namespace sonitor::test
