// zrfisheye: dewarps fisheye pictures and videos with the ZRFishEye library.
#include <algorithm>
#include <string>
#include <vector>

#include "CommandLine.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    const auto verbose = std::find(args.begin(), args.end(), "--verbose");
    if (verbose != args.end())
        args.erase(verbose);
    else
        zrtool::SilenceDependencies();  // a bad input gets our one line, not a dependency's log
    return zrtool::RunCommandLine(args);
}
