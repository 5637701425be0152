#include "shell/CommandLineSteps.h"

#include <cctype>
#include <utility>

#include "foundation/Paths.h"
#include "foundation/Text.h"
#include "shell/HandoffRecord.h"

namespace sonitor {

namespace {

using Kind = CommandLineStep::Kind;

CommandLineStep Step(Kind kind, std::string path = {}) {
    CommandLineStep step;
    step.kind = kind;
    step.path = std::move(path);
    return step;
}

// A window size argument: a positive decimal number, else missing (the
// current size is kept).
std::optional<int> SizeValue(const std::string& text) {
    int value = 0;
    size_t i = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        if (value < 1000000) value = value * 10 + (text[i] - '0');
        ++i;
    }
    if (i == 0 || value <= 0) return std::nullopt;
    return value;
}

void AddFileArgument(CommandLinePlan& plan, const std::string& argument) {
    const std::string extension = ExtensionPart(FileNamePart(argument));
    if (extension.empty()) return;
    plan.steps.push_back(
        Step(EqualsIgnoreCase(extension, ".snp") ? Kind::OpenProject : Kind::OpenFile, argument));
    plan.handled = true;
}

}  // namespace

CommandLinePlan PlanCommandLine(const std::vector<std::string>& arguments) {
    CommandLinePlan plan;
    const size_t count = arguments.size();
    for (size_t i = 1; i < count; ++i) {
        const std::string& arg = arguments[i];
        const size_t following = count - i - 1;
        const auto is = [&](const char* name) { return EqualsIgnoreCase(arg, name); };
        if (is("-block")) continue;
        if (is("-save")) {
            plan.steps.push_back(Step(Kind::Save));
        } else if (is("-saveas")) {
            if (following == 0) continue;
            const std::string& path = arguments[++i];
            if (!path.empty()) plan.steps.push_back(Step(Kind::SaveAs, path));
        } else if (is("-close")) {
            plan.steps.push_back(Step(Kind::Close));
        } else if (is("-exit")) {
            plan.steps.push_back(Step(Kind::Exit));
        } else if (is("-minimize")) {
            plan.steps.push_back(Step(Kind::Minimize));
            plan.handled = true;
        } else if (is("-maximize")) {
            plan.steps.push_back(Step(Kind::Maximize));
            plan.handled = true;
        } else if (is("-restore")) {
            plan.steps.push_back(Step(Kind::Restore));
            plan.handled = true;
        } else if (is("-window")) {
            plan.handled = true;
            if (following < 2) continue;
            CommandLineStep step = Step(Kind::Resize);
            step.width = SizeValue(arguments[i + 1]);
            step.height = SizeValue(arguments[i + 2]);
            plan.steps.push_back(step);
            i += 2;
        } else if (is("-batch")) {
            if (following > 0) plan.steps.push_back(Step(Kind::Batch, arguments[i + 1]));
            break;
        } else if (is("-list")) {
            if (following == 0) break;
            const std::string& listFile = arguments[i + 1];
            if (!listFile.empty() && listFile[0] == '-') {
                ++i;
                continue;
            }
            if (const std::optional<std::vector<std::string>> lines = ReadListFile(listFile)) {
                for (const std::string& line : *lines)
                    AddFileArgument(plan, line);
            }
            break;
        } else if (is("-runedit")) {
            plan.handled = true;
        } else {
            AddFileArgument(plan, arg);
        }
    }
    return plan;
}

}  // namespace sonitor
