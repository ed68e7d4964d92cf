#!/usr/bin/env bash
# The release artefacts as users get them: the Debian packages installed with apt,
# used from the system's own paths and purged again; each Windows zip unpacked in
# a clean folder and used under Wine by wavfx.exe and by two C hosts.
set -euo pipefail
dist=$(cd "$1" && pwd) here=$(cd "$(dirname "$0")" && pwd) top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# 512 and -512, and what a clip at 100 makes of them.
header='RIFF\044\000\000\000WAVEfmt \020\000\000\000\001\000\001\000\100\037\000\000\200\076\000\000\002\000\020\000data\004\000\000\000'
printf "$header\000\002\000\376" >in.wav
expected=$(printf "$header\144\000\234\377" | od -An -tx1)
same() { [ "$(od -An -tx1 "$1")" = "$expected" ] || { echo "unexpected bytes in $1"; exit 1; }; }

echo "== Debian packages"
packages=(libvelorikwavdistortion1 libvelorikwavdistortion-dev wavfx velorik-clip-lv2)
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$dist"/*.deb >/dev/null
installed=$(dpkg -L "${packages[@]}" | while read -r f; do [ -d "$f" ] || echo "$f"; done)
[ "$(pkg-config --modversion VelorikWAVDistortion)" = 1.0.0.1 ]
# Plain system paths, which pkg-config leaves out.
[ -z "$(pkg-config --cflags VelorikWAVDistortion)" ] && [ "$(pkg-config --libs VelorikWAVDistortion | xargs)" = -lVelorikWAVDistortion ]
cc -std=c11 "$here/../install/consumer/main.c" $(pkg-config --cflags --libs VelorikWAVDistortion) -o pc-consumer
./pc-consumer in.wav out-pc.wav && same out-pc.wav
cmake -S "$here/../install/consumer" -B cmake-consumer >/dev/null && cmake --build cmake-consumer >/dev/null
./cmake-consumer/consumer in.wav out-cmake.wav && same out-cmake.wav
/usr/bin/wavfx demo >/dev/null && /usr/bin/wavfx info wavfx-demo/recording.wav | grep -q "match the file"
[ -f /usr/share/man/man1/wavfx.1.gz ] && [ -f /usr/share/bash-completion/completions/wavfx ]
# What a host developer types: man 3 WAVDistortion, and the stop through its link page.
for page in WAVDistortion SoundRecorderStart SoundRecorderStop; do
    MANWIDTH=80 man 3 "$page" 2>&1 | grep -q "^NAME" || { echo "man 3 $page shows no page"; exit 1; }
done
# The plug-in where hosts look, run by one.
env -u LV2_PATH lv2ls | grep -qx urn:velorik:clip:stereo
env -u LV2_PATH lv2apply -i wavfx-demo/recording.wav -o plugged.wav urn:velorik:clip:mono
/usr/bin/wavfx info plugged.wav | grep -q "match the file"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null
for f in $installed; do [ ! -e "$f" ] && [ ! -L "$f" ] || { echo "left behind: $f"; exit 1; }; done
if dpkg-query -W "${packages[@]}" 2>/dev/null | grep -q .; then echo "still known to dpkg"; exit 1; fi
echo "installed, used and purged: ${packages[*]}"

for zip in "$dist"/*.zip; do
    arch=${zip##*-windows-}; arch=${arch%.zip}
    echo "== $(basename "$zip")"
    rm -rf unpacked && mkdir unpacked && (cd unpacked && cmake -E tar xf "$zip")
    root=$(echo unpacked/*)
    (cd "$root" && sha256sum --quiet -c SHA256SUMS)
    gcc=$arch-w64-mingw32-gcc
    $gcc -std=c11 "$here/../install/consumer/main.c" -I"$root/include" -L"$root/lib" -lVelorikWAVDistortion \
        -o "$root/bin/linked.exe"
    $gcc -std=c11 "$here/../install/consumer/main.c" -I"$root/include" "$root/lib/VelorikWAVDistortion.lib" \
        -o "$root/bin/linked-msvc-lib.exe"
    $gcc -std=c11 -municode "$here/ordinal_host.c" -I"$root/include" -o "$root/bin/ordinal.exe"
    cp in.wav "$root/bin/"
    if [ "$arch" = i686 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo "SKIPPED under Wine: $(basename "$zip"): this machine runs no 32-bit x86 programs"
        continue
    fi
    (
        cd "$root/bin"
        export WINEPREFIX=$work/wineprefix-$arch
        wine() { "$top/cmake/wine-run" "$@" 2>/dev/null; }
        wine wavfx.exe info in.wav | grep -q "the library's 44-byte layout"
        wine wavfx.exe distort in.wav out-wavfx.wav 100 >/dev/null && same out-wavfx.wav
        for host in linked linked-msvc-lib ordinal; do
            wine "$host.exe" in.wav "out-$host.wav" >/dev/null && same "out-$host.wav"
        done
    )
    echo "wavfx.exe and three hosts work from $(basename "$zip")"
done
