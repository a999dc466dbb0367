#!/usr/bin/env bash
# The frei0r filter over encoded video files (H.264, yuv420p) at 480 x 270,
# 320 x 240 and 1920 x 1080, through ffmpeg, melt and GStreamer. Some of these
# files reach the filter without usable frame times (ffmpeg 5.1 hands its "no
# timestamp" value for every frame of the 480 x 270 one): the particles must
# show all the same. Each host's filtered frames must equal lumets render of the
# flow over the frames that host decodes without the filter (its own yuv to RGBA
# conversion) as a background sequence.
# usage: encoded_videos.sh LUMETS FREI0R_DIR SOURCE_DIR   (LUMETS_PLUGIN_PATH set by CTest)
set -euo pipefail
lumets=$1
export FREI0R_PATH=$2
here=$3/tests/frei0r
if ! command -v ffmpeg >/dev/null || ! ffmpeg -hide_banner -encoders 2>/dev/null | grep libx264 >/dev/null; then
  echo "SKIP: ffmpeg with libx264 is not installed"
  exit 77
fi
[ -f "$FREI0R_PATH/lumets.so" ] || { echo "FAIL: no $FREI0R_PATH/lumets.so"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work GST_REGISTRY=$work/gst-registry.bin  # no caches outside the test folder
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }
notice="^lumets frei0r: the host gives no usable frame time"
# The filter says nothing on a filtered run but, at most, that the host's
# times were not usable.
quiet() {
  [ -z "$(grep "^lumets frei0r:" "$1" | grep -v "$notice" || true)" ] || fail "$2: unexpected messages: $(cat "$1")"
}

gst=0
if command -v gst-launch-1.0 >/dev/null && timeout 60 gst-inspect-1.0 frei0r-filter-lumets >/dev/null 2>&1 &&
  timeout 60 gst-inspect-1.0 openh264dec >/dev/null 2>&1; then
  gst=1
else
  echo "SKIP: GStreamer's frei0r element or openh264dec is not there, GStreamer not tested"
fi
command -v melt >/dev/null || echo "SKIP: melt is not installed, MLT not tested"

# melt 7.12 now and then ends before its consumer has started (no frames) or
# hangs, with or without a filter: such a run is made again.
mlt() {
  local out=$1 attempt status
  shift
  for attempt in 1 2 3; do
    rm -f "$out"
    status=0
    timeout 60 melt -silent -profile profile "$@" -consumer "avformat:$work/$out" f=rawvideo pix_fmt=rgba \
      real_time=0 < /dev/null 2> err.txt || status=$?
    if [ $status -ne 124 ] && [ -s "$out" ]; then return $status; fi
    echo "melt made no frames (attempt $attempt, status $status); running it again"
  done
  return 1
}
gstrun() {
  timeout 60 gst-launch-1.0 -q filesrc location=in.mp4 ! qtdemux ! h264parse ! openh264dec ! videoconvert \
    ! video/x-raw,format=RGBA "$@" ! filesink location=gst.rgba 2> err.txt
}

# A flow whose particles are there from the first frame, over the frames in bg/.
flow() {
  cat > "$1/flow.json" <<JSON
{"flow": 1, "frames": [0, $(($2 - 1))], "seed": 7, "background": "bg/f.####.png",
 "particle": {"shape": "dot", "size": 12},
 "controls": {"Birthrate": 12, "Lifetime": 40, "Start": [0.2, 0.8], "End": [0.8, 0.8],
              "Orientation": 90, "Spread": 0.3, "Speed": 0.04, "Gravity": 0.05, "SizeVariance": 0.4},
 "events": [{"frame": 0, "press": "FastForward"}]}
JSON
}

# check HOST W H N PLAIN FILTERED: PLAIN holds the host's frames without the
# filter (raw RGBA); they become the background of lumets render, whose frames
# FILTERED must equal.
check() {
  local host=$1 w=$2 h=$3 n=$4
  timeout 60 ffmpeg -nostdin -loglevel error -f rawvideo -pix_fmt rgba -s "${w}x$h" -i "$5" -start_number 0 \
    "$host/bg/f.%04d.png"
  [ -f "$host/bg/f.$(printf %04d $((n - 1))).png" ] || fail "$host ${w}x$h: fewer than $n frames decoded"
  "$lumets" render "$host/flow.json" -q -o "$host/ref/f.####.png"
  timeout 60 ffmpeg -nostdin -loglevel error -start_number 0 -i "$host/ref/f.%04d.png" -f rawvideo \
    -pix_fmt rgba64le -y "$host/ref.raw"
  python3 "$here/compare_frames.py" "$host/ref.raw" "$6" "$w" "$h" "$w" 0 0 "$n" ||
    fail "$host ${w}x$h: the filtered frames differ from lumets render"
}

for size in 480x270:12 320x240:12 1920x1080:4; do
  s=${size%:*} n=${size#*:} w=${size%x*} h=${s#*x}
  rm -rf ff melt gst ./*.rgba
  for host in ff melt gst; do mkdir -p $host/bg && flow $host "$n"; done
  timeout 60 ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=s=$s:r=25" -frames:v "$n" -c:v libx264 \
    -profile:v baseline -pix_fmt yuv420p -y in.mp4

  # ffmpeg, as the README's recipe runs it.
  ffmpeg -nostdin -loglevel error -i in.mp4 -vf format=rgba -f rawvideo -y plain.rgba
  timeout 60 ffmpeg -nostdin -loglevel error -i in.mp4 -vf "frei0r=filter_name=lumets:filter_params=$work/ff/flow.json" \
    -f rawvideo -pix_fmt rgba -y ff.rgba 2> err.txt
  quiet err.txt "ffmpeg $s"
  check ff "$w" "$h" "$n" plain.rgba ff.rgba

  if command -v melt >/dev/null; then
    printf '%s\n' "description=lumets test" frame_rate_num=25 frame_rate_den=1 width="$w" height="$h" progressive=1 \
      sample_aspect_num=1 sample_aspect_den=1 display_aspect_num="$w" display_aspect_den="$h" colorspace=709 > profile
    mlt melt-plain.rgba in.mp4 out=$((n - 1)) || fail "melt $s failed: $(cat err.txt)"
    mlt melt.rgba in.mp4 out=$((n - 1)) -attach frei0r.lumets "flow=$work/melt/flow.json" ||
      fail "melt $s failed: $(cat err.txt)"
    quiet err.txt "melt $s"
    check melt "$w" "$h" "$n" melt-plain.rgba melt.rgba
  fi

  if [ $gst = 1 ]; then
    gstrun || fail "gst-launch-1.0 $s failed: $(cat err.txt)"
    mv gst.rgba gst-plain.rgba
    gstrun ! frei0r-filter-lumets "flow=$work/gst/flow.json" || fail "gst-launch-1.0 $s failed: $(cat err.txt)"
    quiet err.txt "GStreamer $s"
    check gst "$w" "$h" "$n" gst-plain.rgba gst.rgba
  fi
done

# The README's recipe itself, H.264 in and out: over the particles of the
# reference, the encoded frames are nearer the particles than the background.
timeout 60 ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc2=s=480x270:r=25" -frames:v 12 -c:v libx264 \
  -pix_fmt yuv420p -y in.mp4
rm -rf ff && mkdir -p ff/bg && flow ff 12
ffmpeg -nostdin -loglevel error -i in.mp4 -vf format=rgba -start_number 0 ff/bg/f.%04d.png
"$lumets" render ff/flow.json -q -o "ff/ref/f.####.png"
timeout 60 ffmpeg -nostdin -loglevel error -i in.mp4 -vf "frei0r=filter_name=lumets:filter_params=$work/ff/flow.json" \
  -y out.mp4 2> err.txt
quiet err.txt "ffmpeg recipe"
for f in bg ref; do
  timeout 60 ffmpeg -nostdin -loglevel error -start_number 0 -i "ff/$f/f.%04d.png" -f rawvideo -pix_fmt rgb24 -y $f.rgb
done
timeout 60 ffmpeg -nostdin -loglevel error -i out.mp4 -f rawvideo -pix_fmt rgb24 -y out.rgb
python3 - bg.rgb ref.rgb out.rgb <<'PY' || fail "the README's recipe: no particles in out.mp4"
import sys
bg, ref, out = (open(p, "rb").read() for p in sys.argv[1:4])
assert len(bg) == len(ref) == len(out) == 480 * 270 * 3 * 12, "frame counts differ"
near = far = 0
for i in range(0, len(bg), 3):
    if sum(abs(ref[i + k] - bg[i + k]) for k in range(3)) > 192:  # a particle's pixel
        if sum(abs(out[i + k] - ref[i + k]) for k in range(3)) < sum(abs(out[i + k] - bg[i + k]) for k in range(3)):
            near += 1
        else:
            far += 1
print(f"out.mp4: {near} particle pixels show, {far} do not")
sys.exit(0 if near > 1000 and near > 9 * far else 1)
PY
echo "PASS"
