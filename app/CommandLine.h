#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// What the command line asks of a start.
struct StartRequest
{
    // FOLDER, or --folder FOLDER: the folder whose table to open, taken as
    // written (a relative path, a name starting with '-'); empty for none.
    std::optional<std::string> folder;
    // --data-folder FOLDER: the person's own data folder, used only when no
    // folder is named.
    std::optional<std::string> dataFolder;
    // Qt's own options, each with its value, in their order; argv[0] not
    // included. Nothing else of the command line reaches Qt.
    std::vector<std::string> qtArguments;
    // Whether a Qt option chose the platform or the display.
    bool platformChosen = false;
};

// Reads the whole command line before the application object exists:
// connecting to a display is the first thing QApplication does, so --help
// and --version must be answered earlier to work over ssh, in a package
// check or in a build without a display, and a mistyped option must stop
// the start before anything is made. Qt itself would pass over an option it
// does not know without a word.
//
// Returns the exit status when the program should stop: 0 after --help or
// --version (printed on `out`), 2 after a usage line on `err`. Nothing when
// the program should start as `request` says.
std::optional<int> readCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err, StartRequest& request);

// Whether a start without a display-choosing option would find one:
// DISPLAY, WAYLAND_DISPLAY, or a platform named in QT_QPA_PLATFORM.
bool displayAvailable();

// Moves the process into the folder the request names, before the
// application object exists. A named folder that holds no table (or only
// the empty file a start without one leaves) gets the first-use marker; a
// data folder is made private (0700) where it is missing, and only then
// gets the marker. Neither is made through a link, and no file found there
// is written. Returns the exit status, with a message on `err`, when the
// program must not start; nothing when it may (also when the request names
// no folder: the current directory is the working directory then).
std::optional<int> enterStartFolder(const StartRequest& request, std::ostream& err);
