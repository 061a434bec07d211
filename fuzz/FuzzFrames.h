// Frames built from fuzz input: descriptors and packets whose sizes, pitches and
// planes come from the bytes, backed by buffers of exactly the size they claim, so
// that AddressSanitizer catches any read the claim does not cover.
#ifndef ZRFISHEYE_FUZZ_FUZZFRAMES_H
#define ZRFISHEYE_FUZZ_FUZZFRAMES_H

#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <vector>

#include "ZRFishEye.h"

namespace zrfuzz {

// Sizes stay small so that each input runs fast; a few absurd values (past the picture limit,
// or exactly at its side) are mixed in.
int FuzzedSize(FuzzedDataProvider& in, int typical);

// A host's NV12 frame: a descriptor over buffers it owns.
struct HostFrame {
    std::vector<unsigned char> planes[2];
    tag_ZRFRAME desc{};
};
std::unique_ptr<HostFrame> MakeHostFrame(FuzzedDataProvider& in);

// A picture packet in a frame (the frame holds the only reference), or an empty frame.
std::unique_ptr<CZRFrame> MakePacketFrame(FuzzedDataProvider& in);

}  // namespace zrfuzz

#endif
