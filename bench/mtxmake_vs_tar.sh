#!/usr/bin/env bash
# Wall time of Mtxmake on 2,000 64x64 24-bit TGA files against `tar cf` of the same
# files, then of `Mtxdump +extract` of that package against `tar xf` of the archive, and
# of `Mtxmake +update` after one file changed against the fresh build.
# Builds the tools in a Release tree first (build-release/, or $MTX_BUILD).
set -euo pipefail
. "$(dirname "$0")/setup.sh"
count="${1:-2000}"
side=64

bench_setup Mtxmake Mtxdump
mkdir "$work/in"

# Uncompressed true-colour TGA, top row first, random pixels.
header() {
    printf '\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    printf "\\x$(printf %02x $((side & 255)))\\x$(printf %02x $((side >> 8)))"
    printf "\\x$(printf %02x $((side & 255)))\\x$(printf %02x $((side >> 8)))"
    printf '\x18\x20'
}
header > "$work/header"
head -c $((count * side * side * 3)) /dev/urandom > "$work/pixels"
for ((i = 0; i < count; i++)); do
    name=$(printf 'tex%05d.tga' "$i")
    { cat "$work/header"; dd if="$work/pixels" bs=$((side * side * 3)) skip="$i" count=1 status=none; } \
        > "$work/in/$name"
done
sync

seconds() { # command...: the median wall time in seconds of five runs; $setup runs
    local start end run times=()   # untimed before each one, then dirty pages go to disk
    for run in 1 2 3 4 5; do
        "${setup:-true}"
        sync
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n 3p
}

cd "$work"
make_time=$(seconds "$build/builder/Mtxmake" bench 'in/*.tga')
tar_time=$(seconds tar cf bench.tar in)
# Mtxmake syncs the package it built before it renames it into place; so does this tar.
tar_sync() { tar cf bench.tar in && sync bench.tar; }
tar_sync_time=$(seconds tar_sync)
entries=$(( $(od -An -t d4 -j 12 -N 4 bench.mtx) ))
# Back out again: every texture to its own file, as tar does.
fresh_outputs() { rm -rf extracted untarred && mkdir untarred; }
extract_time=$(setup=fresh_outputs seconds "$build/extractor/Mtxdump" +extract -out extracted bench)
extracted=$(find extracted -type f | wc -l)
untar_time=$(setup=fresh_outputs seconds tar xf bench.tar -C untarred)
untarred=$(find untarred -type f | wc -l)

# One file changes; +update brings a copy of the fresh package up to date, given either
# the changed file or the whole folder (which it reads and compares file by file).
cp bench.mtx before.mtx
head -c $((side * side * 3)) /dev/urandom | dd of=in/tex00007.tga bs=1 seek=18 conv=notrunc status=none
fresh_package() { cp before.mtx bench.mtx; }
update_one_time=$(setup=fresh_package seconds "$build/builder/Mtxmake" +update bench in/tex00007.tga)
update_all_time=$(setup=fresh_package seconds "$build/builder/Mtxmake" +update bench 'in/*.tga')

printf 'files:    %d TGA files of %dx%d (%d bytes each)\n' "$count" "$side" "$side" $((18 + side * side * 3))
printf 'Mtxmake:  %.3f s  (%d entries, %d bytes)\n' "$make_time" "$entries" "$(wc -c <bench.mtx)"
printf 'tar cf:   %.3f s  (%d bytes)\n' "$tar_time" "$(wc -c <bench.tar)"
printf 'tar cf && sync: %.3f s\n' "$tar_sync_time"
awk -v m="$make_time" -v t="$tar_time" 'BEGIN { printf "ratio:    %.2f\n", m / t }' 
printf 'Mtxdump +extract: %.3f s  (%d files)\n' "$extract_time" "$extracted"
printf 'tar xf:   %.3f s  (%d files)\n' "$untar_time" "$untarred"
awk -v m="$extract_time" -v t="$untar_time" 'BEGIN { printf "ratio:    %.2f\n", m / t }'
printf 'Mtxmake +update, the changed file: %.3f s\n' "$update_one_time"
printf 'Mtxmake +update, the whole folder: %.3f s\n' "$update_all_time"
