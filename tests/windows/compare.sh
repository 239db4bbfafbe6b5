#!/usr/bin/env bash
# Runs kestrix.exe under Wine and the Linux kestrix over the same movies and
# compares what they give: the exit status, standard output (the "Done in"
# line aside: its seconds may differ), standard error, and every track file,
# byte for byte.
#
#   compare.sh <kestrix.exe> <linux kestrix> <make_test_movie.exe> <work dir>
#
# The movies are uncompressed, 9 frames a second, 8,820 Hz sound: ffmpeg's
# (pictures stored top-down) and the project's own test-movie writer's (both
# row orders and the other depths), each cut at several frames-per-track
# numbers. Only movies whose result the library's documented behaviour
# decides are compared; the cases where Wine's library is known to differ
# from Windows' run afterwards, reported but not judged (see the README's
# Windows section).
#
# The caller sets WINEPREFIX; the rest of Wine's environment is set here.
set -euo pipefail

if (( $# != 4 )); then
  echo "usage: compare.sh <kestrix.exe> <linux kestrix> <make_test_movie.exe> <work dir>" >&2
  exit 2
fi
windows_kestrix=$(realpath "$1")
linux_kestrix=$(realpath "$2")
movie_maker=$(realpath "$3")
work=$4

if [[ -z ${WINEPREFIX:-} ]]; then
  echo "compare.sh: set WINEPREFIX to the Wine prefix to run in" >&2
  exit 2
fi
export WINEDEBUG=-all DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$work"
mkdir -p "$work/movies"
work=$(realpath "$work")
movies=$work/movies

# ---- the movies -------------------------------------------------------------

# ffmpeg_movie <name> <seconds> <size> <sound options...>
ffmpeg_movie() {
  local name=$1 seconds=$2 size=$3
  shift 3
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "testsrc2=size=$size:rate=9:duration=$seconds" \
    -f lavfi -i "sine=frequency=440:sample_rate=8820:duration=$seconds" \
    -c:v rawvideo -pix_fmt bgr24 -ar 8820 "$@" "$movies/$name.avi"
}

# writer_movie <name> <setting=value...>
writer_movie() {
  local name=$1
  shift
  wine "$movie_maker" "$movies/$name.avi" "$@"
}

# ---- one comparison ---------------------------------------------------------

# run_windows_kestrix <dir> <args...>: kestrix.exe under Wine in <dir>, its
# output in <dir>/stdout and <dir>/stderr; its exit status. A run that lost
# its connection to the Wine server ("wine client error") says nothing about
# the program, so it is started again in an emptied folder, twice at most.
run_windows_kestrix() {
  local dir=$1 status attempt
  shift
  for attempt in 1 2 3; do
    status=0
    (cd "$dir" && timeout 120 wine "$windows_kestrix" "$@" >stdout 2>stderr) || status=$?
    grep -q '^wine client error' "$dir/stderr" || break
    echo "    (Wine lost its server; running again)" >&2
    find "$dir" -mindepth 1 -delete
  done
  return "$status"
}

# run_both <movie> <frames-per-track or "">: runs both programs in fresh
# folders and prints what differs; status 1 when anything does.
run_both() {
  local movie=$1 per_track=$2 case_dir
  case_dir=$work/runs/$movie.${per_track:-none}
  mkdir -p "$case_dir/windows" "$case_dir/linux"
  local args=("$movies/$movie.avi")
  [[ -n $per_track ]] && args+=("$per_track")

  local windows_status=0 linux_status=0
  run_windows_kestrix "$case_dir/windows" "${args[@]}" || windows_status=$?
  (cd "$case_dir/linux" &&
     "$linux_kestrix" "${args[@]}" >stdout 2>stderr) || linux_status=$?

  local differs=0
  if (( windows_status != linux_status )); then
    echo "    exit status: windows $windows_status, linux $linux_status"
    differs=1
  fi
  # The "Done in" line is set aside; a run that succeeded has exactly one.
  local side status done_lines
  for side in windows linux; do
    status=$windows_status
    [[ $side == linux ]] && status=$linux_status
    grep -av '^Done in [0-9]* seconds$' "$case_dir/$side/stdout" >"$case_dir/$side/stdout.kept" || true
    done_lines=$(grep -ac '^Done in [0-9]* seconds$' "$case_dir/$side/stdout" || true)
    if (( status == 0 && done_lines != 1 )); then
      echo "    $side: $done_lines \"Done in\" lines"
      differs=1
    fi
  done
  if ! cmp -s "$case_dir/windows/stdout.kept" "$case_dir/linux/stdout.kept"; then
    echo "    standard output differs:"
    diff <(tr '\r' '\n' <"$case_dir/windows/stdout.kept") \
         <(tr '\r' '\n' <"$case_dir/linux/stdout.kept") | head -6 | sed 's/^/      /'
    differs=1
  fi
  if (( compare_stderr )) && ! cmp -s "$case_dir/windows/stderr" "$case_dir/linux/stderr"; then
    echo "    standard error differs:"
    diff "$case_dir/windows/stderr" "$case_dir/linux/stderr" | head -6 | sed 's/^/      /'
    differs=1
  fi
  local windows_tracks linux_tracks
  windows_tracks=$(cd "$case_dir/windows" && ls -- *.wav 2>/dev/null || true)
  linux_tracks=$(cd "$case_dir/linux" && ls -- *.wav 2>/dev/null || true)
  if [[ $windows_tracks != "$linux_tracks" ]]; then
    echo "    track files: windows [${windows_tracks//$'\n'/, }], linux [${linux_tracks//$'\n'/, }]"
    differs=1
  fi
  local track
  while IFS= read -r track; do
    [[ -z $track || ! -e "$case_dir/windows/$track" ]] && continue
    if ! cmp -s "$case_dir/windows/$track" "$case_dir/linux/$track"; then
      echo "    \"$track\" differs: $(cmp "$case_dir/windows/$track" "$case_dir/linux/$track" 2>&1 | head -1)"
      differs=1
    fi
  done <<<"$linux_tracks"
  if [[ -z $linux_tracks && $linux_status == 0 && -e $movies/$movie.avi ]]; then
    echo "    the Linux build wrote no track"
    differs=1
  fi
  return $differs
}

# compare <movie> <frames-per-track...>: every number must give the same.
failures=0
compare_stderr=1
compare() {
  local movie=$1 per_track
  shift
  for per_track in "$@"; do
    if run_both "$movie" "$per_track"; then
      echo "same:      $movie ${per_track:-(no number)}"
    else
      echo "DIFFERENT: $movie ${per_track:-(no number)}"
      failures=$((failures + 1))
    fi
  done
}

# observe <movie> <frames-per-track>: a case where Wine is known to differ.
observe() {
  if run_both "$1" "$2"; then
    echo "wine now agrees: $1 $2 (the README's list of differences may be out of date)"
  else
    echo "known wine difference: $1 $2"
  fi
}

# expect_on_windows <movie> <status> <text>: what the Windows build alone
# must say, where the two platforms differ by design.
expect_on_windows() {
  local movie=$1 want_status=$2 text=$3 status=0 dir=$work/runs/$1.windows-only
  mkdir -p "$dir"
  run_windows_kestrix "$dir" "$movies/$movie.avi" 4 || status=$?
  if (( status == want_status )) && grep -qF -- "$text" "$dir/stderr"; then
    echo "as expected: $movie on Windows"
  else
    echo "UNEXPECTED: $movie on Windows: status $status, standard error:"
    sed 's/^/    /' "$dir/stderr"
    failures=$((failures + 1))
  fi
}

# ---- the cases --------------------------------------------------------------

echo "making the movies"
ffmpeg_movie ffmpeg_top_down 3 432x160 -ac 2 -c:a pcm_u8
ffmpeg_movie ffmpeg_mono16 2 432x160 -ac 1 -c:a pcm_s16le
ffmpeg_movie ffmpeg_scaled 2 320x240 -ac 2 -c:a pcm_u8
ffmpeg_movie ffmpeg_mjpeg 1 432x160 -ac 2 -c:a pcm_u8 -c:v mjpeg
writer_movie writer_bottom_up frames=25 layout=bottom-up
writer_movie writer_top_down frames=25 layout=top-down
writer_movie writer_rgb32 frames=10 layout=rgb32
writer_movie writer_rgb555 frames=10 layout=rgb555
writer_movie writer_palette8 frames=10 layout=palette8
writer_movie writer_large frames=6 width=640 height=360
writer_movie writer_mono16 frames=10 bits=16 channels=1
writer_movie writer_more_sound frames=10 sound-samples=12000
writer_movie writer_sound_ends_with_pictures frames=10 sound-samples=9800
writer_movie writer_absolute_index frames=10 index=absolute
writer_movie writer_no_index frames=10 index=none
writer_movie writer_no_sound frames=5 sound=0
echo "hello" >"$movies/not_a_movie.avi"
# Known to differ under Wine.
writer_movie writer_rgb565 frames=10 layout=rgb565
writer_movie writer_short_sound frames=10 sound-samples=7000
writer_movie writer_stereo16 frames=10 bits=16 channels=2
writer_movie writer_rec_lists frames=10 rec=1
writer_movie writer_truncated frames=10 truncate=1000000

echo "comparing"
compare ffmpeg_top_down "" 0 1 7 27 100 -3
compare ffmpeg_mono16 5
compare ffmpeg_scaled 6
compare writer_bottom_up "" 1 8 25
compare writer_top_down 8
compare writer_rgb32 4
compare writer_rgb555 4
compare writer_palette8 4
compare writer_large 4
compare writer_mono16 3
compare writer_more_sound 4
compare writer_sound_ends_with_pictures 4
compare writer_absolute_index 4
compare writer_no_index 4
compare writer_no_sound 4
compare missing 4
# Each platform words the library's refusal its own way.
compare_stderr=0
compare not_a_movie 4
compare_stderr=1

echo "where the platforms differ by design"
expect_on_windows ffmpeg_mjpeg 0 "no codec installed on this system decodes 'MJPG' pictures"

echo "cases where Wine's library is known to differ from Windows'"
observe writer_rgb565 4
observe writer_short_sound 4
observe writer_stereo16 4
observe writer_rec_lists 4
observe writer_truncated 4

if (( failures > 0 )); then
  echo "compare: $failures comparisons differ (the runs are in $work/runs)"
  exit 1
fi
echo "compare: the Windows and Linux builds agree"
