#!/usr/bin/env bash
# Mtxmake with one worker per core (the default) against `+jobs 1`, on 500 photograph-like
# PNG files and on 500 JPEG files of 512x512 made at start-up, and Mtxdump +extract +png on
# the package of the PNG files the same way: the best wall time of three runs each, and
# the peak memory of each Mtxmake PNG run. Builds the tools in a Release tree first
# (build-release/, or $MTX_BUILD).
set -euo pipefail
. "$(dirname "$0")/setup.sh"
count="${1:-500}"
side=512

bench_setup Mtxmake Mtxdump make_photos
mkdir "$work/png" "$work/jpg"
"$build/samples/make_photos" "$work/png" "$count" "$side" png
"$build/samples/make_photos" "$work/jpg" "$count" "$side" jpg
sync

# best COMMAND...: the best wall time in seconds of three runs, dirty pages synced first;
# the folder "out" goes before each run, so that every run writes new files.
best() {
    local run start end fastest=""
    for run in 1 2 3; do
        rm -rf "$work/out"
        sync
        start=$(date +%s.%N)
        "$@" </dev/null >/dev/null 2>&1
        end=$(date +%s.%N)
        fastest=$(awk -v a="$start" -v b="$end" -v f="$fastest" \
            'BEGIN { t = b - a; if (f != "" && f < t) t = f; printf "%.3f", t }')
    done
    echo "$fastest"
}
# peak COMMAND...: the peak resident memory in MB of one run.
peak() {
    /usr/bin/time -f %M -o "$work/peak" "$@" </dev/null >/dev/null 2>&1
    awk '{ printf "%.1f", $1 / 1024 }' "$work/peak"
}

cd "$work"
make="$build/builder/Mtxmake"
printf 'cores: %d\n' "$(nproc)"
printf 'Mtxmake PNG default: %s s\n' "$(best "$make" photos 'png/*.png')"
printf 'Mtxmake PNG +jobs 1: %s s\n' "$(best "$make" +jobs 1 photos 'png/*.png')"
printf 'Mtxmake JPEG default: %s s\n' "$(best "$make" jphotos 'jpg/*.jpg')"
printf 'Mtxmake JPEG +jobs 1: %s s\n' "$(best "$make" +jobs 1 jphotos 'jpg/*.jpg')"
"$make" photos 'png/*.png' </dev/null >/dev/null
dump="$build/extractor/Mtxdump"
printf 'Mtxdump PNG default: %s s\n' "$(best "$dump" +extract +png -out out photos)"
printf 'Mtxdump PNG +jobs 1: %s s\n' "$(best "$dump" +extract +png +jobs 1 -out out photos)"
printf 'Mtxmake PNG peak default: %s MB\n' "$(peak "$make" photos 'png/*.png')"
printf 'Mtxmake PNG peak +jobs 1: %s MB\n' "$(peak "$make" +jobs 1 photos 'png/*.png')"
