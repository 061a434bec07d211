// The zrfisheye command line: one entry for main() and for the fuzz target, and
// the terminal stream that carries our own messages.
#ifndef ZRFISHEYE_TOOLS_COMMANDLINE_H
#define ZRFISHEYE_TOOLS_COMMANDLINE_H

#include <cstdio>
#include <string>
#include <vector>

namespace zrtool {

// Runs one command (args without the program name); answers the exit status:
// 0 done, 1 a live source that stops or cannot be opened, 2 a bad input or option; each
// said in one line on Err().
int RunCommandLine(std::vector<std::string> args);

// Where our errors, notices and progress go: the terminal's error stream, even
// while the libraries' own messages are silenced.
std::FILE* Err();

// Silences what the libraries we call (FFmpeg, libpng, OpenCV, Qt, the thread pool
// runtime) print on the error stream, keeping Err() on the terminal. --verbose skips it.
void SilenceDependencies();

}  // namespace zrtool

#endif
