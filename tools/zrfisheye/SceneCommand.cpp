// zrfisheye scene: writes the synthetic fisheye picture.
#include <cstdio>

#include <opencv2/imgcodecs.hpp>

#include "Commands.h"
#include "LensOptions.h"
#include "Session.h"

namespace zrtool {

int RunScene(const std::vector<std::string>& args)
{
    ENUM_ZR_FE_INSTALL_MODE_E mount = ZR_FE_INSTALL_CEILING;
    int size = 1024;
    std::string out;
    LensOptions lens;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help") {
            std::puts("usage: zrfisheye scene --mount ceiling|ground|wall --size N --out FILE [lens options]\n"
                      "Writes the synthetic room as an ideal fisheye picture, N x N pixels with the lens\n"
                      "circle filling the frame: equidistant over 180 degrees, or through the lens named.");
            std::fputs(kLensOptionsHelp, stdout);
            return 0;
        } else if (args[i] == "--mount") {
            if (!zrscene::ParseMount(OptionValue(args, i), mount))
                throw UsageError("--mount takes ceiling, ground or wall, not '" + args[i] + "'");
        } else if (args[i] == "--size") {
            size = ParseInt("--size", OptionValue(args, i), 16, 8192);
        } else if (args[i] == "--out") {
            out = OptionValue(args, i);
        } else if (!ParseLensOption(args, i, lens)) {
            throw UsageError("unknown option '" + args[i] + "'");
        }
    }
    CheckLensOptions(lens);
    if (out.empty())
        throw UsageError("--out FILE is required");
    const cv::Mat picture = lens.given ? zrscene::RenderFisheye(mount, size, ResolveLens(lens, size / 2.0))
                                       : zrscene::RenderFisheye(mount, size);
    bool written = false;
    try {
        written = cv::imwrite(out, picture);
    } catch (const cv::Exception&) {
    }
    if (!written)
        throw UsageError("cannot write '" + out + "'");
    std::printf("wrote %s %dx%d\n", out.c_str(), size, size);
    return 0;
}

}  // namespace zrtool
