#pragma once

#include <iosfwd>
#include <optional>

// Answers --help and --version. Call it before the application object
// exists: connecting to a display is the first thing QApplication does, so
// these answers must come earlier to work over ssh, in a package check or
// in a build without a display. Returns the exit status when the program
// should stop; nothing when it should start. Every other argument is left
// to Qt, which takes its own options (-platform, -style, -reverse, ...).
std::optional<int> AnswerInfoOptions(int argc, const char* const* argv, std::ostream& out);
