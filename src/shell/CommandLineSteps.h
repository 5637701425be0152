#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sonitor {

// One thing a command line asks of the running editor, in the order given.
struct CommandLineStep {
    enum class Kind {
        Save,         // -save
        SaveAs,       // -saveas path
        Close,        // -close
        Exit,         // -exit
        Minimize,     // -minimize
        Maximize,     // -maximize
        Restore,      // -restore
        Resize,       // -window width height (either may be missing)
        Batch,        // -batch script (empty: the converter without a script)
        OpenFile,     // a file argument, or a line of a -list file
        OpenProject,  // a ".snp" file argument
    };
    Kind kind = Kind::OpenFile;
    std::string path;
    std::optional<int> width;
    std::optional<int> height;
};

struct CommandLinePlan {
    std::vector<CommandLineStep> steps;
    // Some argument was handled; when none was, the splash is shown.
    bool handled = false;
};

// The switches and file arguments of a command line (program path at index
// 0), each tested in the order of the switch table, switches without regard
// to case. "-batch" and "-list" end the processing; "-list" reads its file
// here (a file that cannot be read is skipped). File arguments without an
// extension are ignored.
CommandLinePlan PlanCommandLine(const std::vector<std::string>& arguments);

}  // namespace sonitor
