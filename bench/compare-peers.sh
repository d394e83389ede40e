#!/usr/bin/env bash
# Whole-process comparison of `kavrel-cli convert IN out.pam` with the peer tools that read the same
# files: libtiff's tiffcp, libjpeg-turbo's djpeg, netpbm's readers, GraphicsMagick and ImageMagick.
# Every tool reads the same picture and writes a real file into a tmpfs folder; hyperfine times the
# runs and the script prints each median and its ratio to Kavrel's (above 1: the peer is slower).
#
#   bench/compare-peers.sh [FORMAT...]        formats: tif-none tif-packbits tif-lzw tif-lzw-pred bmp
#                                             jpg pcx psd tga sgi ppm gif (default: all)
# Environment:
#   KAVREL_CLI        the kavrel-cli to time (default: build/tools/kavrel-cli/kavrel-cli)
#   KAVREL_BASELINE   another kavrel-cli timed in the same run, e.g. a copy built before a change
#   PHOTO             the source photograph (default: ../shared/bench/photo.jpg beside the tree)
#   BENCH_DIR         where pictures and outputs go (default: /dev/shm/kavrel-bench-$UID)
#   RUNS, WARMUP      hyperfine's runs per command and warm-up runs (default 15 and 2)
#   JSON_OUT          also write every median into this file as JSON lines
#
# The peers and the timer are installed when missing (scripts/lib.sh: KAVREL_BENCH_PACKAGES, and
# ImageMagick, libtiff-tools, libjpeg-turbo-progs and netpbm from KAVREL_PACKAGES).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
source "$ROOT/scripts/lib.sh"
ensure_packages "${KAVREL_BENCH_PACKAGES[@]}" imagemagick netpbm libtiff-tools libjpeg-turbo-progs
CLI="${KAVREL_CLI:-$ROOT/build/tools/kavrel-cli/kavrel-cli}"
BASELINE="${KAVREL_BASELINE:-}"
PHOTO="${PHOTO:-$ROOT/../shared/bench/photo.jpg}"
DIR="${BENCH_DIR:-/dev/shm/kavrel-bench-$(id -u)}"
RUNS="${RUNS:-15}"
WARMUP="${WARMUP:-2}"
JSON_OUT="${JSON_OUT:-}"
# The real ImageMagick binary: a wrapper earlier on PATH would add its own start-up to every run.
MAGICK="${MAGICK:-/usr/bin/convert}"
[ -x "$MAGICK" ] || MAGICK=convert

[ -x "$CLI" ] || { echo "compare-peers: no kavrel-cli at $CLI (build the kavrel-cli target)" >&2; exit 1; }
[ -f "$PHOTO" ] || { echo "compare-peers: no photo at $PHOTO" >&2; exit 1; }

ALL_FORMATS=(tif-none tif-packbits tif-lzw tif-lzw-pred bmp jpg pcx psd tga sgi ppm gif)
FORMATS=("$@")
[ ${#FORMATS[@]} -gt 0 ] || FORMATS=("${ALL_FORMATS[@]}")

mkdir -p "$DIR/in" "$DIR/out"

# The test picture of a format, made once from the photo and kept in the tmpfs folder.
picture() {
  local format="$1" file
  case "$format" in
    tif-*) file="$DIR/in/photo-${format#tif-}.tif" ;;
    *) file="$DIR/in/photo.$format" ;;
  esac
  if [ ! -s "$file" ]; then
    local rgb="$DIR/in/photo-rgb.tif"
    [ -s "$rgb" ] || "$MAGICK" "$PHOTO" -strip -compress none "$rgb"
    case "$format" in
      tif-none) cp "$rgb" "$file" ;;
      tif-packbits) tiffcp -c packbits "$rgb" "$file" ;;
      tif-lzw) tiffcp -c lzw "$rgb" "$file" ;;
      tif-lzw-pred) tiffcp -c lzw:2 "$rgb" "$file" ;;
      jpg) cp "$PHOTO" "$file" ;;
      *) "$MAGICK" "$rgb" "$file" ;;
    esac
  fi
  echo "$file"
}

# The peers for a format as "name|command" lines; IN and OUT stand for the picture and an output
# name without extension.
peers() {
  local format="$1"
  case "$format" in
    tif-*)
      echo "tiffcp -c none|tiffcp -c none IN OUT.tif"
      echo "tifftopnm|tifftopnm IN > OUT.pnm" ;;
    jpg)
      echo "djpeg|djpeg -outfile OUT.ppm IN"
      echo "jpegtopnm|jpegtopnm IN > OUT.pnm" ;;
    bmp) echo "bmptopnm|bmptopnm IN > OUT.pnm" ;;
    pcx) echo "pcxtoppm|pcxtoppm IN > OUT.ppm" ;;
    tga) echo "tgatoppm|tgatoppm IN > OUT.ppm" ;;
    sgi) echo "sgitopnm|sgitopnm IN > OUT.pnm" ;;
    ppm) echo "pamtopam|pamtopam < IN > OUT.pam" ;;
    gif) echo "giftopnm|giftopnm IN > OUT.pnm" ;;
  esac
  echo "gm convert|gm convert IN OUT.pam"
  echo "ImageMagick convert|$MAGICK IN OUT.pam"
}

declare -a SUMMARY=()

for format in "${FORMATS[@]}"; do
  in="$(picture "$format")"
  out="$DIR/out/$format"
  names=("kavrel")
  commands=("$CLI convert $in $out.pam")
  if [ -n "$BASELINE" ]; then
    names+=("kavrel baseline")
    commands+=("$BASELINE convert $in $out-baseline.pam")
  fi
  while IFS='|' read -r name command; do
    command="${command//IN/$in}"
    command="${command//OUT/$out-peer}"
    # A peer that cannot read this picture is left out rather than timed failing.
    if ! sh -c "$command" >/dev/null 2>&1; then
      echo "($name cannot read $(basename "$in"); left out)" >&2
      continue
    fi
    names+=("$name")
    commands+=("$command")
  done < <(peers "$format")

  args=()
  for i in "${!commands[@]}"; do
    args+=(-n "${names[$i]}" "${commands[$i]}")
  done
  json="$DIR/out/$format.json"
  # Through the shell for every command alike (netpbm writes to standard output); hyperfine takes
  # the shell's own start-up off each run.
  hyperfine -w "$WARMUP" -r "$RUNS" --style none --export-json "$json" "${args[@]}" >"$DIR/out/hyperfine.log" 2>&1 ||
    { cat "$DIR/out/hyperfine.log" >&2; exit 1; }
  rm -f "$out"*.p?m "$out"*.tif

  size=$(stat -c %s "$in")
  echo
  echo "== $format ($(basename "$in"), $((size / 1024)) KiB)"
  kavrel=$(jq '.results[0].median' "$json")
  while IFS=$'\t' read -r name median; do
    ratio=$(jq -n "$median / $kavrel")
    printf '  %-22s %8.1f ms   x%.2f\n' "$name" "$(jq -n "$median * 1000")" "$ratio"
    [ -z "$JSON_OUT" ] || jq -nc --arg f "$format" --arg n "$name" --argjson m "$median" \
      '{format: $f, command: $n, median_s: $m}' >>"$JSON_OUT"
  done < <(jq -r '.results[] | [.command, .median] | @tsv' "$json")
  fastest=$(jq -r '[.results[] | select(.command | startswith("kavrel") | not)] | min_by(.median) |
    "\(.command)\t\(.median)"' "$json")
  magick=$(jq -r '.results[] | select(.command == "ImageMagick convert") | .median' "$json")
  SUMMARY+=("$(printf '%s\t%.1f\t%s\t%.1f\t%.2f\t%.2f' "$format" "$(jq -n "$kavrel * 1000")" \
    "${fastest%%$'\t'*}" "$(jq -n "${fastest##*$'\t'} * 1000")" "$(jq -n "${fastest##*$'\t'} / $kavrel")" \
    "$(jq -n "${magick:-0} / $kavrel")")")
done

echo
echo "== summary: medians in ms; ratios are the peer's median over Kavrel's (above 1: Kavrel is faster)"
printf '%-14s %9s   %-20s %9s %8s %10s\n' format kavrel "fastest peer" median ratio ImageMagick
for row in "${SUMMARY[@]}"; do
  IFS=$'\t' read -r f k p m r im <<<"$row"
  printf '%-14s %9s   %-20s %9s %8s %10s\n' "$f" "$k" "$p" "$m" "x$r" "x$im"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
