#include "TestSupport.h"

#include <opencv2/imgproc.hpp>

namespace zrtest {

bool Feed(CZRFishEyeDewarper& d, Recorder& rec, tag_ZRFRAME* frame, size_t signals)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        d.Process(frame);
        if (rec.WaitForCount(signals, 400))
            return true;
    }
    return false;
}

}  // namespace zrtest
