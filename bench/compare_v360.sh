#!/usr/bin/env bash
# Workload W1 through the library (exact and fast mode) and through FFmpeg's v360
# filter, in one run on the same frame: a ceiling camera's 2560 x 2560 fisheye
# picture (the synthetic scene) dewarped into a 6432 x 1024 panorama and four
# 1280 x 720 flat views, bilinear, two threads each. Prints the frame rates and
# their ratios.
# Usage: bench/compare_v360.sh [BUILD_DIR] [FRAMES]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
frames="${2:-60}"
if ! command -v ffmpeg >/dev/null; then
  echo "Installing: ffmpeg"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends ffmpeg >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$build/tools/zrfisheye" scene --mount ceiling --size 2560 --out "$work/scene.png" >/dev/null
ffmpeg -v error -i "$work/scene.png" -pix_fmt nv12 -f rawvideo "$work/frame.nv12"
ffmpeg -v error -i "$work/scene.png" -pix_fmt yuv420p -f rawvideo "$work/frame.yuv"

# FFmpeg: the frame looped, split five ways, each through v360 (fisheye in, 180
# degrees), the panorama as an equirectangular strip, the sub views flat.
flat() { echo "v360=input=fisheye:output=flat:ih_fov=180:iv_fov=180:w=1280:h=720:h_fov=90:v_fov=60:pitch=-50:yaw=$1:interp=linear"; }
graph="[0:v]split=5[a][b][c][d][e];"
graph+="[a]v360=input=fisheye:output=e:ih_fov=180:iv_fov=180:w=6432:h=1024:h_fov=360:v_fov=90:pitch=-45:interp=linear[p];"
graph+="[b]$(flat 0)[s0];[c]$(flat 90)[s1];[d]$(flat 180)[s2];[e]$(flat -90)[s3]"
v360_fps() {
  local start end
  start=$(date +%s.%N)
  ffmpeg -v error -f rawvideo -pix_fmt yuv420p -s 2560x2560 -stream_loop $((frames - 1)) -i "$work/frame.yuv" \
    -filter_complex "$graph" -filter_threads 2 -threads 2 \
    -map "[p]" -f null - -map "[s0]" -f null - -map "[s1]" -f null - -map "[s2]" -f null - -map "[s3]" -f null -
  end=$(date +%s.%N)
  awk -v n="$frames" -v a="$start" -v b="$end" 'BEGIN { print n / (b - a) }'
}

zr_fps() {
  ZRFISHEYE_BENCH_NV12="$work/frame.nv12" "$build/bench/zrfisheye_bench" \
    --benchmark_filter="BM_PipelineFramesPerSecond/4/2/$1/" --benchmark_min_time=5 2>/dev/null |
    grep -o 'fps=[0-9.]*' | cut -d= -f2
}
# A shared machine's speed drifts: v360 runs before and after ours, and the mean counts.
v360_before=$(v360_fps)
exact_fps=$(zr_fps 0)
fast_fps=$(zr_fps 1)
v360_after=$(v360_fps)
ffmpeg_fps=$(awk -v a="$v360_before" -v b="$v360_after" 'BEGIN { print (a + b) / 2 }')
printf 'W1, %d frames of 2560 x 2560, panorama 6432 x 1024 + 4 views 1280 x 720\n' "$frames"
printf '  FFmpeg v360 (2 threads): %6.1f fps (%.1f before ours, %.1f after)\n' "$ffmpeg_fps" "$v360_before" "$v360_after"
printf '  ZRFishEye exact:         %6.1f fps\n' "$exact_fps"
printf '  ZRFishEye fast:          %6.1f fps\n' "$fast_fps"
awk -v e="$exact_fps" -v z="$fast_fps" -v f="$ffmpeg_fps" \
  'BEGIN { printf "  exact / v360: %5.2fx   fast / v360: %5.2fx   fast / exact: %5.2fx\n", e / f, z / f, z / e }'
