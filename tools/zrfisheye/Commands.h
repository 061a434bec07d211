// The commands of the zrfisheye program.
#ifndef ZRFISHEYE_TOOLS_COMMANDS_H
#define ZRFISHEYE_TOOLS_COMMANDS_H

#include <string>
#include <vector>

namespace zrtool {

int RunCircle(const std::vector<std::string>& args);
int RunDemo(const std::vector<std::string>& args);
int RunDewarp(const std::vector<std::string>& args);
int RunScene(const std::vector<std::string>& args);
int RunView(const std::vector<std::string>& args);

// Takes the value after option args[i]; throws UsageError when it is missing.
const std::string& OptionValue(const std::vector<std::string>& args, size_t& i);
int ParseInt(const std::string& option, const std::string& text, int lo, int hi);

}  // namespace zrtool

#endif
