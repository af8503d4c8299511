#!/usr/bin/env bash
# Checks the bash completion of quadrelctl: sources it, completes a table of command lines as
# bash would (COMP_WORDS, COMP_CWORD) and compares COMPREPLY with the expected words.
# Usage: completion_test.sh [path/to/quadrelctl.bash-completion]
# Exits non-zero with one line naming the first case that fails.

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
completion=${1:-$here/../../ctl/quadrelctl.bash-completion}
if [[ ! -r $completion ]]; then
    echo "FAIL: completion file not readable: $completion"
    exit 1
fi
# shellcheck source=/dev/null
source "$completion"

fail()
{
    echo "FAIL: $*"
    exit 1
}

[[ $(complete -p quadrelctl 2>/dev/null) == *"-F _quadrelctl"* ]] ||
    fail "quadrelctl is not registered with complete -F _quadrelctl"

# Completes LINE with the cursor at its end (a trailing space starts an empty word) and
# prints the candidates sorted, one per line.
complete_line()
{
    local line=$1
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    _quadrelctl quadrelctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}

# expect LINE WORDS: the candidates for LINE are exactly WORDS (in any order; '' for none).
expect()
{
    local line=$1 want got
    want=$(tr -s ' ' '\n' <<<"$2" | sed '/^$/d' | sort)
    got=$(complete_line "$line")
    [[ $got == "$want" ]] ||
        fail "'$line': expected [${want//$'\n'/ }], got [${got//$'\n'/ }]"
}

commands='status on off toggle all safe pwm network restart id scan watch history'
outputs=$(seq 1 20)
speeds='1200 2400 4800 9600 14400 19200 28800 38400 57600 115200'
formats='8N1 8O1 8E1 8N2'
connection='--port --baud --format --udp --addr --timeout'

# Command words, and option values skipped on the way to them.
expect 'quadrelctl ' "$commands"
expect 'quadrelctl s' 'status safe scan'
expect 'quadrelctl --port /dev/ttyUSB0 --baud 9600 --addr 17 ' "$commands"
expect 'quadrelctl --json t' 'toggle'
expect 'quadrelctl frobnicate ' ''

# Options before the command word and after it.
expect 'quadrelctl --' "$connection --json --no-verify --help --version"
expect 'quadrelctl -' "$connection --json --no-verify -h --help -v --version"
expect 'quadrelctl --json --port /dev/ttyS0 --' \
    '--baud --format --addr --timeout --no-verify --help --version'
expect 'quadrelctl --udp 10.0.0.5 --a' '--addr'
expect 'quadrelctl --udp 10.0.0.5 --p' ''
expect 'quadrelctl status --' "$connection --json --help --version"
expect 'quadrelctl --json status --' "$connection --help --version"
expect 'quadrelctl on 3 --' "$connection --json --no-verify --help --version"
expect 'quadrelctl safe 3 on --no' '--no-verify'
expect 'quadrelctl status ' ''
expect 'quadrelctl restart ' ''

# Values of --baud and --format, wherever they stand.
expect 'quadrelctl --baud ' "$speeds"
expect 'quadrelctl --baud 11' '115200'
expect 'quadrelctl on 3 --baud 1' '1200 14400 19200 115200'
expect 'quadrelctl --format ' "$formats"
expect 'quadrelctl status --format 8E' '8E1'
expect 'quadrelctl --timeout ' ''
expect 'quadrelctl --addr ' ''
expect 'quadrelctl --udp ' ''

# Output numbers, each only once; on|off after all and after safe N.
expect 'quadrelctl on ' "$outputs"
expect 'quadrelctl on 3 ' "$(seq 1 20 | grep -vx 3)"
expect 'quadrelctl toggle 1 2 1' '10 11 12 13 14 15 16 17 18 19'
expect 'quadrelctl --addr 17 off ' "$outputs"
expect 'quadrelctl off 5 --json ' "$(seq 1 20 | grep -vx 5)"
expect 'quadrelctl all ' 'on off'
expect 'quadrelctl all o' 'on off'
expect 'quadrelctl all on ' ''
expect 'quadrelctl safe ' "$outputs"
expect 'quadrelctl safe 2' '2 20'
expect 'quadrelctl safe 4 ' 'on off'
expect 'quadrelctl --json safe 4 of' 'off'
expect 'quadrelctl safe 4 on ' ''

# pwm: the output, then either unit/period/fill or closed/open.
expect 'quadrelctl pwm ' "$outputs"
expect 'quadrelctl pwm 3 ' '--unit --period --fill --closed --open'
expect 'quadrelctl pwm 3 --unit 2 ' '--period --fill'
expect 'quadrelctl pwm 3 --unit 2 --' "--period --fill $connection --json --help --version"
expect 'quadrelctl pwm 3 --closed 250 ' '--open'
expect 'quadrelctl pwm 3 --closed 250 --o' '--open'
expect 'quadrelctl pwm 3 --unit ' ''
expect 'quadrelctl pwm 3 --unit 1 --period 50 --fill 500 ' ''

# network: its four options are the new settings, even when the connection's stand before it.
expect 'quadrelctl network ' '--addr --baud --format --timeout'
expect 'quadrelctl --addr 16 --baud 9600 network ' '--addr --baud --format --timeout'
expect 'quadrelctl --port /dev/ttyS0 --addr 16 network --' \
    '--addr --baud --format --timeout --json --help --version'
expect 'quadrelctl network --addr 20 ' '--baud --format --timeout'
expect 'quadrelctl network --addr 20 --baud ' "$speeds"
expect 'quadrelctl network --format 8' "$formats"
expect 'quadrelctl network --timeout ' ''

# scan and watch.
expect 'quadrelctl scan ' '--all-speeds'
expect 'quadrelctl scan --al' '--all-speeds'
expect 'quadrelctl scan --all-speeds ' ''
expect 'quadrelctl watch ' '--deadband'
expect 'quadrelctl watch --deadband ' ''
expect 'quadrelctl watch --deadband 300 --' "$connection --json --help --version"
# history: its range and output.
expect 'quadrelctl history ' '--from --output --to'
expect 'quadrelctl history --output ' "$outputs"
expect 'quadrelctl history --from -2d --' "--output --to $connection --json --help --version"

# --port: serial devices and files. The device patterns are pointed at a folder of our own,
# so the case does not depend on the machine's ports.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/dev/serial/by-id" "$scratch/work/sub"
touch "$scratch/dev/ttyUSB0" "$scratch/dev/ttyS1" "$scratch/dev/null" \
    "$scratch/dev/serial/by-id/usb-FTDI_RS485-if00-port0" "$scratch/work/mapped-port"
real_patterns=("${_quadrelctl_port_patterns[@]}")
[[ ${real_patterns[*]} == '/dev/tty* /dev/serial/by-id/*' ]] ||
    fail "--port offers [${real_patterns[*]}], not the serial devices /dev/tty* /dev/serial/by-id/*"
_quadrelctl_port_patterns=("$scratch/dev/tty*" "$scratch/dev/serial/by-id/*")
cd "$scratch/work" || fail "cannot enter $scratch/work"
expect 'quadrelctl --port ' "$scratch/dev/ttyUSB0 $scratch/dev/ttyS1
    $scratch/dev/serial/by-id/usb-FTDI_RS485-if00-port0 mapped-port sub"
expect "quadrelctl status --port $scratch/dev/ttyU" "$scratch/dev/ttyUSB0"
expect "quadrelctl --port $scratch/dev/serial/by-id/u" \
    "$scratch/dev/serial/by-id/usb-FTDI_RS485-if00-port0"
expect "quadrelctl --port $scratch/dev/n" "$scratch/dev/null"
expect 'quadrelctl --port ma' 'mapped-port'
_quadrelctl_port_patterns=("${real_patterns[@]}")
[[ $(complete_line 'quadrelctl --port /dev/tt') == *$'/dev/tty\n'* ]] ||
    fail "'quadrelctl --port /dev/tt' does not offer /dev/tty"

echo "PASS: quadrelctl completion"
