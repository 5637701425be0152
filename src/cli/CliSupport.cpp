// Small helpers that every subcommand shares.
#include <cstdlib>

#include "cli/CliCommands.h"
#include "document/ProgressTask.h"

namespace sonitor::cli {

int ExitForTaskResult(int32_t result) {
    return result == kTaskDone ? kExitOk : result == kTaskCancelled ? kExitCancelled : kExitFailed;
}

bool ParseMillisecondRange(const std::string& text, int64_t& start, int64_t& end) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string a = text.substr(0, colon);
    const std::string b = text.substr(colon + 1);
    char* stop = nullptr;
    start = std::strtoll(a.c_str(), &stop, 10);
    if (a.empty() || *stop != '\0' || start < 0) return false;
    end = std::strtoll(b.c_str(), &stop, 10);
    if (b.empty() || *stop != '\0') return false;
    return start < end;
}

}  // namespace sonitor::cli
