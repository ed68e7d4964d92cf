#!/usr/bin/env bash
# Installs the built tree into a scratch prefix and builds two consumers against
# it, one through find_package and one through pkg-config, then runs both.
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
[ -f "$prefix/share/man/man1/wavfx.1.gz" ] && [ -f "$prefix/share/bash-completion/completions/wavfx" ]
echo "install tree: find_package and pkg-config consumers work"
