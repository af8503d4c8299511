#!/usr/bin/env bash
# Benchmark (prints, never fails on a figure): how long switching output 3 on takes as a whole
# process, quadrelctl against mbpoll writing the same coil, on the simulator keeping the line's
# time at 9600 and 115200 bit/s.
#
#   benchmarks/ctl/bench_quadrelctl.sh QUADRELCTL QUADREL_SIM [RUNS]
#
# Each speed: RUNS rounds (default 15; the first is a warm-up and not counted), each round one
# run of `quadrelctl on 3 --no-verify`, one of mbpoll and one of `quadrelctl on 3` (with
# read-back), so a slow moment of the machine hits all three alike. Output 3 is coil
# 4096 + 128 x 2 = 4352, reference 4353 for mbpoll, which counts from 1. quadrelctl also reads
# the device-type register before it writes; mbpoll only writes, but pauses 20 ms after it
# has set the port up (seen with strace), so its figures are line time + 20 ms + start-up.
# Exit status: 0 all timed; 1 a tool or the simulator failed (the table shows what was timed);
# 2 wrong arguments or mbpoll, python3 or the simulator missing.
set -uo pipefail

speeds=(9600 115200)
address=16
coil_reference=4353   # mbpoll's 1-based reference of coil 4352 (output 3)
write_frame='10 05 11 00 FF 00'   # address 16, function 5, coil 0x1100, on

usage()
{
    echo "usage: $0 QUADRELCTL QUADREL_SIM [RUNS]"
    echo "  QUADRELCTL   path of the quadrelctl program"
    echo "  QUADREL_SIM  path of the quadrel-sim program"
    echo "  RUNS         runs per tool and speed, the first one a warm-up (default 15, at least 2)"
}

say() { echo "bench_quadrelctl: $*" >&2; }

if [[ ${1:-} == -h || ${1:-} == --help ]]; then
    usage
    exit 0
fi
if (($# < 2 || $# > 3)); then
    usage >&2
    exit 2
fi
ctl=$1
sim=$2
runs=${3:-15}
if ! [[ $runs =~ ^[0-9]+$ ]] || ((10#$runs < 2)); then
    say "RUNS must be a whole number of at least 2 (one warm-up and one timed run), not '$runs'"
    exit 2
fi
runs=$((10#$runs))
if [[ ! -f $sim || ! -x $sim ]]; then
    say "the simulator '$sim' is not an executable file"
    exit 2
fi
if ! command -v mbpoll >/dev/null; then
    say "mbpoll is not installed; install it with: apt-get install mbpoll"
    exit 2
fi
if ! command -v python3 >/dev/null; then
    say "python3 (the timer) is not installed; install it with: apt-get install python3"
    exit 2
fi
ctl_ok=1
if [[ ! -f $ctl || ! -x $ctl ]]; then
    say "quadrelctl '$ctl' is not an executable file: its runs are skipped, mbpoll is timed alone"
    ctl_ok=0
fi

work=$(mktemp -d)
sim_pid=''
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup()
{
    [[ -n ${sim_in:-} ]] && exec {sim_in}>&-
    if [[ -n $sim_pid ]]; then
        kill -TERM "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Runs a command with its output discarded and prints its wall time in ms (monotonic clock,
# from just before it is started until it has exited); exits with the command's status and
# passes its error output on when it fails.
timer='
import subprocess, sys, time
start = time.perf_counter()
try:
    done = subprocess.run(sys.argv[1:], stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
except OSError as error:
    sys.exit(f"cannot start {sys.argv[1]}: {error}")
print(f"{(time.perf_counter() - start) * 1000:.3f}")
sys.stderr.buffer.write(done.stderr[-2000:] if done.returncode else b"")
sys.exit(done.returncode)
'

# The simulator keeps the line's time at whatever speed the tool sets on the pty. Its console
# reads standard input, which stays open (a FIFO held by this script) while it runs.
log=$work/frames.log
mkfifo "$work/sim-in"
"$sim" --pace --module "$address" --any-speed --log "$log" <"$work/sim-in" \
    >"$work/sim-out" 2>"$work/sim-err" &
sim_pid=$!
exec {sim_in}>"$work/sim-in"
pty=''
for _ in $(seq 100); do
    pty=$(head -n 1 "$work/sim-out" 2>/dev/null)
    [[ -n $pty ]] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
if [[ -z $pty || ! -c $pty ]]; then
    say "the simulator did not open a pseudo-terminal: $(head -c 500 "$work/sim-err")"
    exit 1
fi
export QUADREL_SETTINGS_DIR=$work   # no Options.xml: only the command line counts

# How many writes of output 3 the simulator has received so far.
writes_logged()
{
    local count
    count=$(grep -cE "RX serial +$write_frame " "$log" 2>/dev/null)
    echo "${count:-0}"
}

# Times one run of a tool and appends the figure to its file (not in the warm-up round). A run
# counts only when it succeeded and the simulator heard its write of output 3; otherwise the
# tool, the speed and the reason are named, and the tool is not run again at that speed.
declare -A failed=()
declare -A labels=([mbpoll]='mbpoll' [ctl-no-verify]='quadrelctl --no-verify'
    [ctl-read-back]='quadrelctl (read-back)')
time_run()
{
    local key=$1 speed=$2 round=$3
    shift 3
    [[ -n ${failed[$key-$speed]:-} ]] && return 0
    local ms status before
    before=$(writes_logged)
    ms=$(python3 -c "$timer" "$@" 2>"$work/err")
    status=$?
    if ((status != 0)); then
        failed[$key-$speed]=1
        say "${labels[$key]} at $speed bit/s failed (exit $status) in round $round:" \
            "$(tail -n 3 "$work/err" | tr '\n' ' ')"
        return 0
    fi
    for _ in $(seq 40); do
        (($(writes_logged) > before)) && break
        sleep 0.05
    done
    if (($(writes_logged) <= before)); then
        failed[$key-$speed]=1
        say "${labels[$key]} at $speed bit/s reported success in round $round," \
            "but the simulator heard no write of output 3"
        return 0
    fi
    ((round > 1)) && echo "$ms" >>"$work/$key-$speed"
    return 0
}

# Prints "count min median" of the figures in a file, or nothing when there are none.
summary()
{
    [[ -s $1 ]] || return 0
    sort -g "$1" | awk '{ v[NR] = $1 }
        END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
              printf "%d %.1f %.1f\n", NR, v[1], m }'
}

ratio()
{
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
}

echo "simulator: $sim --pace --module $address --any-speed on $pty"
echo "mbpoll:    mbpoll -m rtu -a $address -b SPEED -P none -d 8 -s 1 -t 0" \
    "-r $coil_reference -1 $pty 1"
echo "quadrelctl: $ctl --port $pty --baud SPEED --addr $address on 3 [--no-verify]"
echo "runs per tool and speed: $runs (the first not counted)"
echo

for speed in "${speeds[@]}"; do
    for ((round = 1; round <= runs; round++)); do
        ((ctl_ok)) && time_run ctl-no-verify "$speed" "$round" \
            "$ctl" --port "$pty" --baud "$speed" --addr "$address" on 3 --no-verify
        time_run mbpoll "$speed" "$round" \
            mbpoll -m rtu -a "$address" -b "$speed" -P none -d 8 -s 1 -t 0 -r "$coil_reference" \
            -1 "$pty" 1
        ((ctl_ok)) && time_run ctl-read-back "$speed" "$round" \
            "$ctl" --port "$pty" --baud "$speed" --addr "$address" on 3
    done
done

printf '%-7s %-25s %5s %7s %10s\n' speed tool runs 'min ms' 'median ms'
for speed in "${speeds[@]}"; do
    declare -A mins=() medians=()
    for key in mbpoll ctl-no-verify ctl-read-back; do
        [[ $key != mbpoll ]] && ((!ctl_ok)) && continue
        read -r count min median < <(summary "$work/$key-$speed")
        if [[ -n ${failed[$key-$speed]:-} || -z ${count:-} ]]; then
            printf '%-7s %-25s %5s\n' "$speed" "${labels[$key]}" failed
        else
            printf '%-7s %-25s %5d %7s %10s\n' "$speed" "${labels[$key]}" "$count" "$min" "$median"
            mins[$key]=$min
            medians[$key]=$median
        fi
        count=''
    done
    for key in ctl-no-verify ctl-read-back; do
        [[ -n ${medians[$key]:-} && -n ${medians[mbpoll]:-} ]] || continue
        name=quadrelctl
        [[ $key == ctl-read-back ]] && name='quadrelctl (read-back)'
        echo "ratio $name/mbpoll at $speed:" \
            "median $(ratio "${medians[$key]}" "${medians[mbpoll]}")," \
            "min $(ratio "${mins[$key]}" "${mins[mbpoll]}")"
    done
    unset mins medians
done

if ((!ctl_ok)) || ((${#failed[@]})); then
    exit 1
fi
exit 0
