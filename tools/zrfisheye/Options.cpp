#include <cerrno>
#include <cstdlib>

#include "Commands.h"
#include "Session.h"

namespace zrtool {

const std::string& OptionValue(const std::vector<std::string>& args, size_t& i)
{
    if (i + 1 >= args.size())
        throw UsageError("option " + args[i] + " needs a value");
    return args[++i];
}

int ParseInt(const std::string& option, const std::string& text, int lo, int hi)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < lo || v > hi)
        throw UsageError(option + " takes a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                         ", not '" + text + "'");
    return static_cast<int>(v);
}

}  // namespace zrtool
