#!/usr/bin/env bash
# The frei0r filter inside real hosts: ffmpeg, melt (MLT) and gst-launch
# (GStreamer). Frames made through the filter must equal lumets render of the
# same flow over the same background, each 16-bit value v taken as
# (v + 128) / 257; failures must pass the frames through with one line on
# standard error and the host's exit status 0.
# usage: hosts.sh LUMETS FREI0R_DIR SOURCE_DIR   (LUMETS_PLUGIN_PATH set by CTest)
set -euo pipefail
lumets=$1
export FREI0R_PATH=$2
here=$3/tests/frei0r
if ! command -v ffmpeg >/dev/null; then
  echo "SKIP: ffmpeg is not installed (scripts/deps.sh installs ffmpeg, melt and the GStreamer tools)"
  exit 77
fi
[ -f "$FREI0R_PATH/lumets.so" ] || { echo "FAIL: no $FREI0R_PATH/lumets.so"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work GST_REGISTRY=$work/gst-registry.bin  # no caches outside the test folder
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }
compare() { python3 "$here/compare_frames.py" "$@" || fail "frames differ"; }

# 256 x 144 over the colour 0x204060: its 8-bit values x 257 are the flow's background.
W=256 H=144 N=24
cat > flow.json <<'JSON'
{"flow": 1, "frames": [0, 29], "seed": 7,
 "background": {"width": 256, "height": 144,
                "color": [0.12549019607843137, 0.25098039215686274, 0.3764705882352941, 1.0]},
 "particle": {"shape": "dot", "size": 12},
 "controls": {"Birthrate": 6, "Lifetime": 40, "Start": [0.3, 0.8], "End": [0.7, 0.8],
              "Orientation": 90, "Spread": 0.2, "Speed": 0.03, "Gravity": 0.05,
              "GravityAngle": {"keys": [[0, 270], [20, 200]]}, "EnableScale": 1, "SizeVariance": 0.4},
 "events": [{"frame": 0, "press": "FastForward"}]}
JSON
color="color=c=0x204060:s=${W}x${H}:r=25,format=rgba"
ff() { timeout 60 ffmpeg -nostdin -loglevel error -f lavfi -i "$color" "$@"; }
to16() { timeout 60 ffmpeg -nostdin -loglevel error -i "$1/f.%04d.png" -f rawvideo -pix_fmt rgba64le -y "$2"; }

"$lumets" render flow.json -q --frames 0-$((N - 1)) -o ref/f.####.png
"$lumets" render flow.json -q --frames 0-11 --seed 5 --set Birthrate=12 -o refp/f.####.png
"$lumets" render flow.json -q --frames 0-11 --seed 5 --set Birthrate=12 --set Start=0.5,0.2 -o refs/f.####.png
for r in ref refp refs; do to16 $r $r.raw; done

# ffmpeg: a whole render, a render starting at frame 14 (trim keeps the time),
# parameters (seed 5, birthrate 0.012 of the control's 0..1000) and two
# instances side by side in one graph.
ff -frames:v $N -vf "frei0r=filter_name=lumets:filter_params=$work/flow.json" -f rawvideo -y full.rgba
compare ref.raw full.rgba $W $H $W 0 0 $N
ff -frames:v 10 -vf "trim=start_frame=14,frei0r=filter_name=lumets:filter_params=$work/flow.json" -f rawvideo -y mid.rgba
compare ref.raw mid.rgba $W $H $W 0 14 10
ff -frames:v 12 -vf "frei0r=filter_name=lumets:filter_params=$work/flow.json|25|5|0.012" -f rawvideo -y params.rgba
compare refp.raw params.rgba $W $H $W 0 0 12
ff -frames:v 12 -filter_complex "[0]split[a][b];[a]frei0r=filter_name=lumets:filter_params=$work/flow.json[l];\
[b]frei0r=filter_name=lumets:filter_params=$work/flow.json|25|5|0.012[r];[l][r]hstack" -f rawvideo -y pair.rgba
compare ref.raw pair.rgba $W $H $((2 * W)) 0 0 12
compare refp.raw pair.rgba $W $H $((2 * W)) $W 0 12

# Failures: a missing flow, a damaged flow, a particle image that is not there.
echo '{"flow": 1, "frames": [0' > damaged.json
sed 's/"particle": {[^}]*}/"particle": "no-such-shape.png"/' flow.json > noshape.json
ff -frames:v 1 -f rawvideo -y plain.rgba
for flow in "$work/missing.json" "$work/damaged.json" "$work/noshape.json"; do
  ff -frames:v 6 -vf "frei0r=filter_name=lumets:filter_params=$flow" -f rawvideo -y failed.rgba 2> err.txt ||
    fail "ffmpeg exit status $? for $flow"
  [ "$(wc -l < err.txt)" -eq 1 ] && grep -q "^lumets frei0r: .*frames pass through unchanged$" err.txt ||
    fail "for $flow, expected one line on standard error, got: $(cat err.txt)"
  for i in 1 2 3 4 5 6; do cat plain.rgba; done | cmp -s - failed.rgba || fail "frames changed with $flow"
done

# MLT: melt renders the same frames, parameters by name (start y keeps the
# tool's default 0.2 once start x is set); a missing flow passes them through.
if command -v melt >/dev/null; then
  printf '%s\n' "description=lumets test" frame_rate_num=25 frame_rate_den=1 width=$W height=$H progressive=1 \
    sample_aspect_num=1 sample_aspect_den=1 display_aspect_num=16 display_aspect_den=9 colorspace=709 > profile
  # melt 7.12 now and then ends before its consumer has started (no frames, status
  # 0) or hangs, with or without any filter: such a run is made again. The last
  # run's standard error is in err.txt.
  mlt() {
    local frames=$1 attempt status
    shift
    for attempt in 1 2 3; do
      rm -f melt.rgba
      status=0
      timeout 30 melt -silent -profile "$work/profile" color:0x204060ff out=$((frames - 1)) -attach frei0r.lumets \
        "$@" -consumer "avformat:$work/melt.rgba" f=rawvideo pix_fmt=rgba real_time=0 < /dev/null 2> err.txt ||
        status=$?
      if [ $status -ne 124 ] && [ -s melt.rgba ]; then return $status; fi
      echo "melt made no frames (attempt $attempt, status $status); running it again"
    done
    return 1
  }
  mlt $N "flow=$work/flow.json" || fail "melt failed: $(cat err.txt)"
  compare ref.raw melt.rgba $W $H $W 0 0 $N
  mlt 12 "flow=$work/flow.json" seed=5 birthrate=0.012 "start x=0.5" || fail "melt failed: $(cat err.txt)"
  compare refs.raw melt.rgba $W $H $W 0 0 12
  mlt $N "flow=$work/missing.json" || fail "melt exit status $? with a missing flow"
  [ "$(grep -c "^lumets frei0r:" err.txt)" -eq 1 ] || fail "melt: expected one line from the filter, got: $(cat err.txt)"
  for i in $(seq $N); do cat plain.rgba; done | cmp -s - melt.rgba || fail "melt: frames changed with a missing flow"
else
  echo "SKIP: melt is not installed, MLT not tested"
fi

# GStreamer: its frei0r element (gstreamer1.0-plugins-bad) finds the filter on FREI0R_PATH.
if command -v gst-launch-1.0 >/dev/null && timeout 60 gst-inspect-1.0 frei0r-filter-lumets >/dev/null 2>&1; then
  timeout 60 gst-launch-1.0 -q videotestsrc num-buffers=12 pattern=solid-color foreground-color=0xff204060 \
    ! video/x-raw,format=RGBA,width=$W,height=$H,framerate=25/1 ! frei0r-filter-lumets "flow=$work/flow.json" \
    ! filesink location=gst.rgba || fail "gst-launch-1.0 failed"
  compare ref.raw gst.rgba $W $H $W 0 0 12
else
  echo "SKIP: GStreamer's frei0r element (gstreamer1.0-plugins-bad) or gst-launch-1.0 is not there"
fi
echo "PASS"
