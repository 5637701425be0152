// sonitor-cli: the editor's core without a window.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "foundation/WorkingFolder.h"

namespace {

const char kUsage[] =
    "Usage: sonitor-cli COMMAND [OPTIONS]\n"
    "\n"
    "Sonitor's audio editing core from the command line.\n"
    "\n"
    "Commands:\n"
    "  demo [--seconds N] [--rate HZ]\n"
    "                       generate N seconds (default 5) of stereo tones at HZ\n"
    "                       (default 44100) into a 44100 Hz document, cut, paste,\n"
    "                       repeat and amplify parts of it, undo and redo, and\n"
    "                       print the document's segment list, length and working\n"
    "                       files. Ctrl-C cancels (exit status 130).\n"
    "  info [--json] FILE...\n"
    "                       format, sample rate, channels, length and tags of\n"
    "                       each file, read the way the editor reads it (external\n"
    "                       decoders for Ogg, FLAC, AAC and the rest)\n"
    "  convert [--rate HZ] [--channels 1|2] IN OUT\n"
    "                       any readable format to any writable one, chosen by\n"
    "                       the extensions (wav, aiff, au, gsm, vox, raw, mp3,\n"
    "                       ogg, flac, aac, m4a, amr, m3u, pls, wpl, rss); tags\n"
    "                       carried over; the target is replaced only when the\n"
    "                       whole conversion succeeded\n"
    "  edit IN OUT [COMMAND [ARG...]]...\n"
    "                       open IN, apply Edit menu commands in order (select,\n"
    "                       cut, copy, paste, delete, trim, insert, mix, repeat,\n"
    "                       reverse, split, auto-split, undo, redo, ...) and save\n"
    "                       the result to OUT; 'sonitor-cli edit --help' lists them\n"
    "  apply EFFECT [KEY=VALUE...] [--preset NAME] [--selection START:END] IN OUT\n"
    "                       apply an effect (echo, equalizer, ...) to IN, or to\n"
    "                       the part from START to END milliseconds, and save the\n"
    "                       result to OUT; values not given are the stored ones\n"
    "                       or the defaults, and given ones are not stored\n"
    "  apply --list         list the effects with their values, defaults, limits\n"
    "                       and presets\n"
    "  spectrogram IN OUT.png [--selection START:END] [--brightness N] [--grid]\n"
    "                       save the temporal frequency analysis of IN, or of the\n"
    "                       part from START to END milliseconds, as a picture:\n"
    "                       time to the right, low frequencies at the bottom;\n"
    "                       N (1-65535, default 64) scales the colours, --grid\n"
    "                       draws a line every 1000 Hz and every second\n"
    "  play FILE [--from MS] [--to MS] [--loop] [--speed slow|normal|fast]\n"
    "       [--device N]\n"
    "                       play FILE, or the part from MS to MS, once or over\n"
    "                       and over, at half, normal or 1.5 times the speed, with\n"
    "                       the position and a level meter on stderr; Ctrl-C stops\n"
    "                       (exit status 130)\n"
    "  record OUT [--seconds N] [--autostart] [--threshold DB] [--device N]\n"
    "                       record from an input device (default: the editor's)\n"
    "                       until N seconds are recorded or Ctrl-C, and save the\n"
    "                       take to OUT; --autostart waits for sound at DB\n"
    "                       (default -24) and cuts the quiet end off\n"
    "  devices              list the output and input devices with their numbers\n"
    "                       and the capture lines of each input\n"
    "  batch -s SCRIPT.snb (--same-format | --format EXT) (--same-folder | -o DIR)\n"
    "        [--keep-going] [--overwrite] [--jobs N] FILE...\n"
    "                       apply the commands of a batch script to every FILE and\n"
    "                       save each result in its own folder or DIR, with its\n"
    "                       own extension or EXT; N files at once (default: one\n"
    "                       per core). 'sonitor-cli batch --help' says more,\n"
    "                       'batch --write-script OUT.snb COMMAND[:VALUES]...'\n"
    "                       writes a script, 'batch --list-commands' lists them\n"
    "\n"
    "Options:\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "Settings are read from $SONITOR_CONFIG_HOME/settings.ini or\n"
    "~/.config/Orvelsoft/Sonitor/settings.ini. Working files go to a private\n"
    "folder inside the working folder, removed when the program ends.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return sonitor::cli::kExitUsage;
    }
    const std::string& command = args[0];
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(kUsage, stdout);
        return sonitor::cli::kExitOk;
    }
    if (command == "-V" || command == "--version") {
        std::printf("sonitor-cli %s\n", SONITOR_VERSION);
        return sonitor::cli::kExitOk;
    }

    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "demo") {
        sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private);
        if (!session.Ok()) {
            std::fprintf(stderr, "sonitor-cli: cannot create a working folder\n");
            return sonitor::cli::kExitFailed;
        }
        return sonitor::cli::RunDemo(rest);
    }
    if (command == "convert") {
        sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private);
        return sonitor::cli::RunConvert(rest);
    }
    if (command == "edit") {
        sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private);
        return sonitor::cli::RunEdit(rest);
    }
    if (command == "apply") {
        sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private);
        return sonitor::cli::RunApply(rest);
    }
    if (command == "spectrogram") {
        sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private);
        return sonitor::cli::RunSpectrogram(rest);
    }
    if (command == "play") {
        sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private);
        return sonitor::cli::RunPlay(rest);
    }
    if (command == "record") {
        sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private);
        return sonitor::cli::RunRecord(rest);
    }
    if (command == "batch") {
        sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private);
        return sonitor::cli::RunBatchCommand(rest);
    }
    if (command == "devices") return sonitor::cli::RunDevices(rest);
    if (command == "info") {
        sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private);
        return sonitor::cli::RunInfo(rest);
    }
    std::fprintf(stderr, "sonitor-cli: unknown command '%s'\nTry 'sonitor-cli --help'.\n", command.c_str());
    return sonitor::cli::kExitUsage;
}
