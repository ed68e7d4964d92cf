#!/usr/bin/env bash
# Installs the built tree into a scratch prefix and builds two consumers against
# it, one through find_package and one through pkg-config, then runs both; then
# the documentation's C examples and manual pages against the same tree.
set -euo pipefail
build_dir=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
here=$(cd "$(dirname "$0")" && pwd)

printf 'RIFF\044\000\000\000WAVEfmt \020\000\000\000\001\000\001\000\100\037\000\000\200\076\000\000\002\000\020\000data\004\000\000\000\000\002\000\376' >"$work/in.wav"

cmake -S "$here/consumer" -B "$work/cmake-consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
"$work/cmake-consumer/consumer" "$work/in.wav" "$work/out-cmake.wav"

libdir=$(dirname "$(find "$prefix" -name VelorikWAVDistortion.pc)")
PKG_CONFIG_PATH=$libdir pkg-config --exists VelorikWAVDistortion
cc -std=c11 "$here/consumer/main.c" $(PKG_CONFIG_PATH=$libdir pkg-config --cflags --libs VelorikWAVDistortion) \
   -Wl,-rpath,"$(cd "$libdir/.." && pwd)" -o "$work/pc-consumer"
"$work/pc-consumer" "$work/in.wav" "$work/out-pc.wav"

# The header as every C and C++ a host may build with sees it, warnings as errors.
include=$(PKG_CONFIG_PATH=$libdir pkg-config --cflags VelorikWAVDistortion)
compilers=("cc -Wall -Wextra -pedantic" "c++ -Wall -Wextra -pedantic")
command -v clang >/dev/null && compilers+=("clang -Weverything" "clang++ -Weverything -Wno-c++98-compat-pedantic")
for compiler in "${compilers[@]}"; do
    case $compiler in *++*) language=c++ stds="c++98 c++03 c++11 c++14 c++17 c++20" ;; *) language=c stds="c89 c99 c11 c17" ;; esac
    for std in $stds; do
        echo '#include <VelorikWAVDistortion.h>' | $compiler -std=$std -Werror $include -x $language -fsyntax-only -
    done
done

# 512 and -512 clipped at 100.
expected=$(printf 'RIFF\044\000\000\000WAVEfmt \020\000\000\000\001\000\001\000\100\037\000\000\200\076\000\000\002\000\020\000data\004\000\000\000\144\000\234\377' | od -An -tx1)
for out in out-cmake.wav out-pc.wav; do
    [ "$(od -An -tx1 "$work/$out")" = "$expected" ] || { echo "unexpected bytes in $out"; exit 1; }
done
"$prefix/bin/wavfx" info "$work/out-cmake.wav" >/dev/null
[ -f "$prefix/share/bash-completion/completions/wavfx" ]

# Every manual page renders at 80 columns without a warning (a link page through its target).
pages=("$prefix"/share/man/man*/*)
[ ${#pages[@]} -ge 4 ]
for page in "${pages[@]}"; do
    warnings=$(cd "$prefix/share/man" && MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "${page#"$prefix"/}: $warnings"; exit 1; }
done

# Every C example with a main() in the README, docs/api.md and the section-3 pages compiles
# against the installed tree and runs as its Usage lines say (none: without arguments), beside
# an in.wav and with a capture device fed silence at 8000 samples a second.
examples=$work/examples && mkdir -p "$examples"
python3 "$here/examples.py" "$here/../.." "$examples"
cp "$work/in.wav" "$examples/in.wav"
mkfifo "$examples/capture.fifo"
printf 'pcm.!default { type file slave.pcm { type null } file "/dev/null" infile "%s" format "raw" }\n' \
    "$examples/capture.fifo" >"$examples/asound.conf"
python3 -c '
import sys, time
while True:
    with open(sys.argv[1], "wb", buffering=0) as f:
        begin, n = time.monotonic(), 0
        try:
            while True:
                f.write(bytes(1600)); n += 800
                time.sleep(max(0.0, begin + n / 8000 - time.monotonic()))
        except BrokenPipeError:
            pass
' "$examples/capture.fifo" 2>/dev/null &
feeder=$!
trap 'kill $feeder 2>/dev/null' EXIT
flags=$(PKG_CONFIG_PATH=$libdir pkg-config --cflags --libs VelorikWAVDistortion)
count=0
for source in "$examples"/*.c; do
    name=${source%.c}
    # shellcheck disable=SC2086
    cc -std=c11 -Wall -Wextra -Werror "$source" $flags -Wl,-rpath,"$(cd "$libdir/.." && pwd)" -o "$name"
    while read -r args; do
        # shellcheck disable=SC2086
        (cd "$examples" && ALSA_CONFIG_PATH=$examples/asound.conf "$name" $args >/dev/null) ||
            { echo "$(head -1 "$source"): failed with: $args"; exit 1; }
    done <"$name.args"
    count=$((count + 1))
done
[ "$count" -ge 4 ] || { echo "only $count C examples found"; exit 1; }
echo "install tree: find_package and pkg-config consumers, $count C examples and ${#pages[@]} manual pages work"
