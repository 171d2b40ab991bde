#!/usr/bin/env bash
# Times the command line on FFmpeg-made files beside reference commands run in the same
# session, and prints ratios (this machine is noisy; absolute numbers mean little).
#   bench/run_cli_benchmarks.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build="${1:?build directory}"
work="${2:-/tmp/rivetta-bench}"
cli="$build/src/rivetta-cli"
mkdir -p "$work"

make_avi() {  # name seconds size bitrate
  local out="$work/$1.avi"
  [ -f "$out" ] && return
  ffmpeg -loglevel error -y -f lavfi -i "testsrc2=size=$3:rate=25" -f lavfi \
    -i "sine=frequency=440:sample_rate=44100" -t "$2" -vf noise=alls=20:allf=t -c:v mpeg4 -vtag XVID -b:v "$4" \
    -g 25 -bf 0 -c:a mp2 -b:a 192k "$out"
}
make_avi small 2 1280x720 50M    # about 10 MB
make_avi big 170 1280x720 50M    # about 1 GB

best() {  # best of 3 wall-clock seconds of a command
  local b=""
  for _ in 1 2 3; do
    local s e t
    s=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [ -z "$b" ] || (( $(echo "$t < $b" | bc -l) )); then b=$t; fi
  done
  echo "$b"
}

ls -l "$work"/small.avi "$work"/big.avi
cat "$work/big.avi" >/dev/null  # warm the page cache for every command alike
info_small=$(best "$cli" info "$work/small.avi")
info_big=$(best "$cli" info "$work/big.avi")
printf 'info: 10 MB %.4f s, 1 GB %.4f s, ratio %.2f\n' "$info_small" "$info_big" \
  "$(echo "$info_big / $info_small" | bc -l)"

cat_big=$(best cat "$work/big.avi")
check_big=$(best "$cli" check "$work/big.avi")
printf 'check 1 GB: %.3f s; cat: %.3f s; ratio %.2f\n' "$check_big" "$cat_big" \
  "$(echo "$check_big / $cat_big" | bc -l)"
