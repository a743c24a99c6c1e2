#!/usr/bin/env bash
# Fails, listing the lines, when code outside src/media reaches FFmpeg:
# includes one of its headers, names one of its types, macros or functions,
# or includes a header of the media layer's own (one that includes FFmpeg's
# headers, directly or through another). The rest of the program knows
# FFmpeg only through media's types. Tests and benchmarks are not checked:
# they make and inspect media files with FFmpeg itself. Comment lines may
# name FFmpeg's things.
#
# Usage: media-boundary.sh [source root]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# Media headers that reach FFmpeg's headers, found until none is added.
declare -A own=()
added=1
while ((added)); do
    added=0
    for header in src/media/*.h; do
        [[ -n ${own[$header]:-} ]] && continue
        reaches=0
        grep -Eq '^#include <lib(av|sw)' "$header" && reaches=1
        for known in "${!own[@]}"; do
            grep -Fq "#include \"media/${known##*/}\"" "$header" && reaches=1
        done
        if ((reaches)); then
            own[$header]=1
            added=1
        fi
    done
done

patterns=(-e '^#include <lib(av|sw|postproc)'
          -e '\bAV[A-Z][a-z]\w*' -e '\bAV_[A-Z]' -e '\bAVERROR' -e '\bFF_[A-Z]'
          -e '\b(av|avcodec|avformat|avio|avfilter|avutil|swr|sws)_[a-z]'
          -e '\b(Sws|Swr)Context\b' -e '\bav::')
for header in "${!own[@]}"; do
    patterns+=(-e "^#include \"media/${header##*/}\"")
done

if found=$(grep -rnE --include='*.h' --include='*.cpp' "${patterns[@]}" src tools |
           grep -v '^src/media/' | grep -Ev '^[^:]+:[0-9]+:\s*//'); then
    echo "FFmpeg reached outside src/media (use media's own types):"
    echo "$found"
    exit 1
fi
echo "No FFmpeg outside src/media (media's own headers: ${!own[*]})."
