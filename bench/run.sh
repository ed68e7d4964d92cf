#!/usr/bin/env bash
# Builds the release preset, measures, and writes docs/performance.md (printing it
# too): the distortion pass against a plain copy of the same file (the limit) and
# against the tools a user might pick instead, every format, the oversampled clip,
# loudness, the plug-in, peak memory by file size, the clip kernel, and the
# recorder's cost.
#   bench/run.sh            100 MB input, 7 interleaved runs
#   bench/run.sh --large    also a 1 GB input
#   RUNS=N bench/run.sh     N runs per row
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-7}
large=false
[ "${1:-}" = --large ] && large=true

need=()
command -v sox >/dev/null || need+=(sox)
command -v ffmpeg >/dev/null || need+=(ffmpeg)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
    echo "bench: installing ${need[*]} from the distribution" >&2
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" >/dev/null
bin=build/release
wavfx=$bin/tools/wavfx/wavfx

base=/tmp; [ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/vwd-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# A 16-bit WAV of $2 MiB of random samples: mono in the library's layout, or
# with $3 = ffmpeg, stereo with the LIST chunk ffmpeg writes before the data.
make_wav() {
    local path=$1 mib=$2 bytes=$(( $2 * 1048576 ))
    python3 - "$path" "$bytes" "${3:-}" <<'PY'
import struct, sys
path, size, layout = sys.argv[1], int(sys.argv[2]), sys.argv[3]
channels = 2 if layout == "ffmpeg" else 1
info = b"INFOISFT" + struct.pack("<I", 14) + b"Lavf59.27.100\0" if layout == "ffmpeg" else b""
extra = b"LIST" + struct.pack("<I", len(info)) + info if info else b""
with open(path, "wb") as f:
    f.write(struct.pack("<4sI4s4sIHHIIHH", b"RIFF", size + 36 + len(extra), b"WAVE", b"fmt ", 16, 1, channels, 8000,
                        16000 * channels, 2 * channels, 16) + extra + b"data" + struct.pack("<I", size))
PY
    head -c "$bytes" /dev/urandom >>"$path"
}

# Median and spread (max - min) of a list of seconds.
stats() { sort -n | awk '{v[NR]=$1} END {m=(NR%2)?v[(NR+1)/2]:(v[NR/2]+v[NR/2+1])/2; printf "%.4f %.4f\n", m, v[NR]-v[1]}'; }
now() { date +%s.%N; }
timed() { local t0; t0=$(now); "$@" >/dev/null 2>&1; echo "$(now) - $t0" | bc -l; }
# A section of the page: its heading, then paragraphs, each line given one.
section() { printf '\n## %s\n' "$1"; shift; for line in "$@"; do printf '\n%s\n' "$line"; done; echo; }

exec > >(tee docs/performance.md)
echo "# Performance"
echo
echo "Written by \`bench/run.sh\` on $(date -u +%F) on this machine: $(nproc) cores," \
    "$(lscpu | sed -n 's/^Model name: *//p' | head -1), $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)," \
    "Linux $(uname -r). Medians of interleaved runs. Run it again to measure another machine: it rewrites this page."

declare -A times
rows=(dd wavfx inprocess wavfx_ffmpeg wavfx_pipe)
command -v sox >/dev/null && rows+=(sox sox_ffmpeg)
command -v ffmpeg >/dev/null && rows+=(ffmpeg)

in=$work/in.wav out=$work/out.wav ff=$work/ffmpeg-layout.wav
make_wav "$in" 100
make_wav "$ff" 100 ffmpeg
size_mb=$(( $(stat -c %s "$in") / 1000000 ))
for ((r = 0; r < runs; r++)); do
    for row in "${rows[@]}"; do
        rm -f "$out"
        case $row in
            dd) t=$(timed dd if="$in" of="$out" bs=64K) ;;
            wavfx) t=$(timed "$wavfx" distort "$in" "$out" 8000) ;;
            # A TMPDIR that does not exist: a file needs no room there.
            wavfx_ffmpeg) t=$(TMPDIR=$work/none timed "$wavfx" distort "$ff" "$out" 8000) ;;
            wavfx_pipe) t=$(timed sh -c "cat '$ff' | '$wavfx' distort - '$out' 8000") ;;
            sox_ffmpeg) t=$(timed sox "$ff" "$out" vol 1) ;;
            inprocess) t=$({ "$bin/bench/bench_distort_inprocess" "$in" "$out" 8000 >/dev/null; } 2>&1) ;;
            sox) t=$(timed sox "$in" "$out" vol 1) ;;
            ffmpeg) t=$(timed ffmpeg -nostdin -loglevel error -y -i "$in" -af asoftclip=type=hard:threshold=0.244140625 "$out") ;;
        esac
        times[$row]+="$t "
    done
done

section "Distortion" "A ${size_mb} MB 16-bit mono WAV on $(basename "$base"), $runs interleaved runs."
printf '| %-34s | %10s | %10s | %8s |\n' "command" "median s" "spread s" "x dd"
printf '|%s|%s|%s|%s|\n' "------------------------------------" "------------" "------------" "----------"
read -r dd_median _ < <(tr ' ' '\n' <<<"${times[dd]}" | grep . | stats)
for row in "${rows[@]}"; do
    read -r median spread < <(tr ' ' '\n' <<<"${times[$row]}" | grep . | stats)
    case $row in
        dd) label="dd bs=64K (the copy limit)" ;;
        wavfx) label="wavfx distort" ;;
        wavfx_ffmpeg) label="wavfx distort, ffmpeg's layout" ;;
        wavfx_pipe) label="cat | wavfx distort -, ffmpeg's" ;;
        sox_ffmpeg) label="sox vol 1, ffmpeg's layout" ;;
        inprocess) label="WAVDistortion in-process" ;;
        sox) label="sox vol 1 (pass-through)" ;;
        ffmpeg) label="ffmpeg asoftclip=type=hard" ;;
    esac
    printf '| %-34s | %10s | %10s | %8.2f |\n' "$label" "$median" "$spread" "$(echo "$median / $dd_median" | bc -l)"
done

cores=$(nproc)
section "Batch distortion" "32 files of 8 MiB, -j 1 against -j $cores, $runs interleaved runs."
mkdir -p "$work/batch"
for k in $(seq -w 1 32); do make_wav "$work/batch/take$k.wav" 8; done
declare -A batch
for ((r = 0; r < runs; r++)); do
    for jobs in 1 "$cores"; do
        rm -rf "$work/batch-out"
        batch[$jobs]+="$(timed "$wavfx" distort -t 8000 "$work"/batch/*.wav -o "$work/batch-out" -j "$jobs") "
    done
done
rm -rf "$work/batch" "$work/batch-out"
read -r one _ < <(tr ' ' '\n' <<<"${batch[1]}" | grep . | stats)
read -r all _ < <(tr ' ' '\n' <<<"${batch[$cores]}" | grep . | stats)
printf '| %-10s | %10s |\n' "jobs" "median s"
printf '|%s|%s|\n' "------------" "------------"
printf '| %-10s | %10s |\n' "-j 1" "$one" "-j $cores" "$all"
echo
printf 'speed-up with -j %s: %.2f x\n' "$cores" "$(echo "$one / $all" | bc -l)"

section "Every PCM format" "About 100 MB of noise each (sox), $runs interleaved runs: \`distort -6dB\` against a plain copy\
 (\`dd bs=64K\`) and sox; \`info\` and \`plot\` against reading the file (\`dd bs=64K of=/dev/null\`)."
declare -A ftimes
formats=(u8:"-b 8" s16:"-b 16" s24:"-b 24" s32:"-b 32" f32:"-e floating-point -b 32" f64:"-e floating-point -b 64")
for entry in "${formats[@]}"; do
    name=${entry%%:*} bits=${entry#*:}
    case $name in u8) width=1 ;; s16) width=2 ;; s24) width=3 ;; s32 | f32) width=4 ;; f64) width=8 ;; esac
    # shellcheck disable=SC2086
    sox -n -r 48000 -c 2 $bits "$work/$name.wav" synth "$(( 100000000 / (96000 * width) ))" whitenoise vol 0.9 2>/dev/null
done
for ((r = 0; r < runs; r++)); do
    for entry in "${formats[@]}"; do
        name=${entry%%:*} f=$work/${entry%%:*}.wav
        ftimes[$name:read]+="$(timed dd if="$f" of=/dev/null bs=64K) "
        ftimes[$name:info]+="$(timed "$wavfx" info "$f") "
        ftimes[$name:plot]+="$(timed "$wavfx" plot "$f" -o "$work/p.svg" -y) "
        ftimes[$name:soxstat]+="$(timed sox "$f" -n stat) "
        [ "$name" = s24 ] || [ "$name" = f32 ] || continue
        rm -f "$out"; ftimes[$name:copy]+="$(timed dd if="$f" of="$out" bs=64K) "
        rm -f "$out"; ftimes[$name:distort]+="$(timed "$wavfx" distort "$f" "$out" -6dB) "
        rm -f "$out"; ftimes[$name:sox]+="$(timed sox "$f" "$out" vol 1) "
    done
done
median() { tr ' ' '\n' <<<"${ftimes[$1]}" | grep . | stats | cut -d' ' -f1; }
ratio() { echo "$(median "$1") / $(median "$2")" | bc -l; }
printf '| %-6s | %10s | %10s | %10s | %10s | %10s | %10s | %10s |\n' format "read s" "info s" "x read" "plot s" \
    "x read" "sox stat s" "distort x dd, x sox"
printf '|%s|%s|%s|%s|%s|%s|%s|%s|\n' -------- ------------ ------------ ------------ ------------ ------------ \
    ------------ ------------
for entry in "${formats[@]}"; do
    name=${entry%%:*} distort="-"
    [ -n "${ftimes[$name:distort]:-}" ] &&
        distort=$(printf '%.2f, %.2f' "$(ratio "$name:distort" "$name:copy")" "$(ratio "$name:distort" "$name:sox")")
    printf '| %-6s | %10s | %10s | %10.2f | %10s | %10.2f | %10s | %10s |\n' "$name" "$(median "$name:read")" \
        "$(median "$name:info")" "$(ratio "$name:info" "$name:read")" "$(median "$name:plot")" \
        "$(ratio "$name:plot" "$name:read")" "$(median "$name:soxstat")" "$distort"
done

section "Loudness" "Integrated loudness and true peak of the s16 file: \`wavfx info --loudness\` against ffmpeg's \`ebur128=peak=true\`."
declare -A ltimes
for ((r = 0; r < runs; r++)); do
    ltimes[wavfx]+="$(timed "$wavfx" info --loudness "$work/s16.wav") "
    ltimes[ffmpeg]+="$(timed ffmpeg -nostdin -loglevel error -i "$work/s16.wav" -af ebur128=peak=true -f null -) "
done
lmedian() { tr ' ' '\n' <<<"${ltimes[$1]}" | grep . | stats | cut -d' ' -f1; }
printf '| %-16s | %12s | %12s | %10s |\n' input "wavfx s" "ffmpeg s" "x ffmpeg"
printf '|%s|%s|%s|%s|\n' ------------------ -------------- -------------- ------------
printf '| %-16s | %12s | %12s | %10.2f |\n' "s16 48k stereo" "$(lmedian wavfx)" "$(lmedian ffmpeg)" \
    "$(echo "$(lmedian wavfx) / $(lmedian ffmpeg)" | bc -l)"
for entry in "${formats[@]}"; do rm -f "$work/${entry%%:*}.wav"; done

section "Oversampled clip" "5 minutes of 48 kHz stereo 16-bit, against ffmpeg's \`asoftclip=type=hard:oversample=N\` at the same level:\
 a 3517 Hz tone clipped throughout at -12 dB, and pink noise with only its peaks clipped at -3 dB; $(( runs < 3 ? runs : 3 )) interleaved runs."
declare -A otimes
python3 - "$work/tone.wav" <<'PY'
import math, struct, sys
rate, frames = 48000, 48000 * 300
with open(sys.argv[1], "wb") as f:
    f.write(struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + 4 * frames, b"WAVE", b"fmt ", 16, 1, 2, rate, 4 * rate, 4,
                        16, b"data", 4 * frames))
    period = [round(32767 * math.sin(2 * math.pi * 3517 * n / rate)) for n in range(rate)]
    second = struct.pack("<%dh" % (2 * rate), *[s for v in period for s in (v, v)])
    for _ in range(300):
        f.write(second)
PY
sox -n -r 48000 -c 2 -b 16 "$work/pink.wav" synth 300 pinknoise gain -n -1 2>/dev/null
# The same level for both tools: wavfx's threshold as ffmpeg's fraction of full scale.
cases=(tone:-12dB:0.251188643 pink:-3dB:0.707945784)
for ((r = 0; r < (runs < 3 ? runs : 3); r++)); do
    for entry in "${cases[@]}"; do
        IFS=: read -r name db fraction <<<"$entry"
        for n in 1 4 16; do
            rm -f "$out"; otimes[$name:wavfx:$n]+="$(timed "$wavfx" distort "$work/$name.wav" "$out" "$db" --oversample "$n") "
        done
        rm -f "$out"
        otimes[$name:wavfx:tp]+="$(timed "$wavfx" distort "$work/$name.wav" "$out" "$db" --oversample 16 --true-peak) "
        for n in 4 16; do
            otimes[$name:ffmpeg:$n]+="$(timed ffmpeg -nostdin -loglevel error -y -i "$work/$name.wav" \
                -af "asoftclip=type=hard:threshold=$fraction:oversample=$n" "$out") "
        done
    done
done
omedian() { tr ' ' '\n' <<<"${otimes[$1]}" | grep . | stats | cut -d' ' -f1; }
printf '| %-6s | %12s | %12s | %12s | %12s | %12s | %14s | %16s | %14s |\n' input "plain s" "--oversample 4" \
    "ffmpeg 4" "--oversample 16" "ffmpeg 16" "16: x ffmpeg" "16 --true-peak" "x ffmpeg 16"
printf '|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n' -------- -------------- -------------- -------------- -------------- \
    -------------- ---------------- ------------------ ----------------
for entry in "${cases[@]}"; do
    name=${entry%%:*}
    printf '| %-6s | %12s | %12s | %12s | %12s | %12s | %14.2f | %16s | %14.2f |\n' "$name" \
        "$(omedian "$name:wavfx:1")" "$(omedian "$name:wavfx:4")" "$(omedian "$name:ffmpeg:4")" \
        "$(omedian "$name:wavfx:16")" "$(omedian "$name:ffmpeg:16")" \
        "$(echo "$(omedian "$name:wavfx:16") / $(omedian "$name:ffmpeg:16")" | bc -l)" "$(omedian "$name:wavfx:tp")" \
        "$(echo "$(omedian "$name:wavfx:tp") / $(omedian "$name:ffmpeg:16")" | bc -l)"
done
rss=$(/usr/bin/time -f %M "$wavfx" distort "$work/tone.wav" "$out" -12dB --oversample 16 -y 2>&1 >/dev/null | tail -1)
echo
echo "peak resident memory at --oversample 16: $rss KiB"
rss=$(/usr/bin/time -f %M "$wavfx" distort "$work/tone.wav" "$out" -12dB --oversample 16 --true-peak -y 2>&1 >/dev/null | tail -1)
echo "peak resident memory at --oversample 16 --true-peak: $rss KiB"
rm -f "$work/tone.wav" "$work/pink.wav"

section "LV2 plug-in" "Stereo at 48 kHz in 64-frame blocks, a tone clipped throughout at -12 dB: its latency, the share of one\
 core it takes in real time, and its slowest block against the block's duration."
printf '| %-26s | %14s | %16s | %14s |\n' "oversample, true peak" "latency frames" "share of a core" "slowest block"
printf '|%s|%s|%s|%s|\n' ---------------------------- ---------------- ------------------ ----------------
"$bin/bench/bench_plugin_cost" "$bin/plugins/lv2/bundles/velorik-clip.lv2/velorik-clip.so" 1:0 4:0 16:0 8:1 16:1 32:1 |
    while read -r setting latency cpu worst; do
        printf '| %-26s | %14s | %14.2f %% | %12.0f %% |\n' "${setting%%:*}, $([ "${setting#*:}" = 1 ] && echo on || echo off)" \
            "$latency" "$(echo "$cpu * 100" | bc -l)" "$(echo "$worst * 100" | bc -l)"
    done

section "Memory" "Peak resident memory of \`wavfx distort\` (ffmpeg's layout)."
printf '| %-10s | %12s |\n' "input" "peak RSS KiB"
printf '|%s|%s|\n' "------------" "--------------"
sizes=(1 100); $large && sizes+=(1024)
for mib in "${sizes[@]}"; do
    make_wav "$work/m.wav" "$mib" ffmpeg
    rss=$(/usr/bin/time -f %M "$wavfx" distort "$work/m.wav" "$work/m-out.wav" 8000 2>&1 >/dev/null | tail -1)
    printf '| %7d MiB | %12s |\n' "$mib" "$rss"
    rm -f "$work/m.wav" "$work/m-out.wav"
done

section "Clip kernel" "One 32 KiB run against memcpy of the same buffer (Google Benchmark)."
printf '| %-12s | %11s |\n|%s|%s|\n' kernel time -------------- -------------
"$bin/bench/bench_clip_kernel" --benchmark_min_time=0.2 2>/dev/null | grep -E '^(Clip|Memcpy)' |
    awk '{printf "| %-12s | %8s ns |\n", $1, $2}'

section "Recorder" "CPU per second of audio (each block and its header synced), syncs per block, stop latency."
cat >"$work/asound.conf" <<CONF
pcm.!default { type file slave.pcm { type null } file "/dev/null" infile "/dev/zero" format "raw" }
CONF
printf '| %-34s | %12s | %16s | %6s | %8s |\n' "wave input" "CPU / s" "share of a core" "syncs" "stop ms"
printf '|%s|%s|%s|%s|%s|\n' "------------------------------------" "--------------" "------------------" "--------" "----------"
row() {
    local label=$1 blocks cpu syncs stop_ms
    read -r blocks cpu syncs stop_ms
    [ "$syncs" = -1 ] && syncs="-"
    printf '| %-34s | %9.1f us | %14.4f %% | %6s | %8s |\n' "$label ($blocks s)" "$(echo "$cpu * 1000000" | bc -l)" \
        "$(echo "$cpu * 100" | bc -l)" "$syncs" "$stop_ms"
}
"$bin/bench/bench_recorder_fake" "$work/fake.wav" | row "strict double, unpaced"
ALSA_CONFIG_PATH=$work/asound.conf "$bin/bench/bench_recorder_alsa" "$work/alsa.wav" | row "ALSA file plugin"
# Real time through a sound server: a private PulseAudio with a sine source, through ALSA's pulse plugin.
if command -v pulseaudio >/dev/null; then
    pa=$work/pulse && mkdir -p "$pa"
    printf 'load-module module-native-protocol-unix socket=%s/native auth-anonymous=1\nload-module module-null-sink\n%s\n' \
        "$pa" "load-module module-sine-source rate=8000 frequency=440" >"$pa/server.pa"
    printf 'pcm.!default { type pulse server "unix:%s/native" }\n' "$pa" >"$pa/asound.conf"
    HOME=$pa XDG_RUNTIME_DIR=$pa pulseaudio -n -F "$pa/server.pa" --daemonize=no --exit-idle-time=-1 \
        --use-pid-file=no >/dev/null 2>&1 &
    server=$!
    for _ in $(seq 100); do [ -S "$pa/native" ] && break; sleep 0.1; done
    HOME=$pa XDG_RUNTIME_DIR=$pa ALSA_CONFIG_PATH=$pa/asound.conf "$bin/bench/bench_recorder_alsa" "$work/pulse.wav" 30 |
        row "PulseAudio, real time" || echo "(PulseAudio: no recording; is libasound2-plugins installed?)"
    kill "$server"; wait "$server" 2>/dev/null || true
fi
