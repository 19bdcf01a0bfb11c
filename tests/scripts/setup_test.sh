#!/usr/bin/env bash
# scripts/setup's decisions against stand-ins for apt-get, dpkg and dpkg-query
# placed first on the PATH: each case gives the machine a state and its mirror
# a behaviour, runs setup and checks what it asked apt for, what it installed
# and what it said. No network, nothing installed for real.
# Ends with one line "N passed, M failed"; exits non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

mkdir -p "$scratch/bin"
# The machine's state lives in $STUB_STATE: installed (one package a line),
# architectures, and calls (every apt-get and dpkg call, one a line).
cat > "$scratch/bin/apt-get" << 'EOF'
#!/usr/bin/env bash
echo "apt-get $*" >> "$STUB_STATE/calls"
if [ "$1" = update ]; then
  count=$(($(grep -c '^apt-get update' "$STUB_STATE/calls")))
  if [ "$count" -le "${STUB_UPDATE_FAILURES:-0}" ]; then
    echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
    exit 100
  fi
  exit 0
fi
simulate=
packages=()
for arg in "${@:2}"; do
  case "$arg" in
    -s) simulate=1 ;;
    -*) ;;
    *) packages+=("$arg") ;;
  esac
done
for package in "${packages[@]}"; do
  if [[ " ${STUB_BROKEN:-} " == *" $package "* ]]; then
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100
  fi
done
[ -n "$simulate" ] || printf '%s\n' "${packages[@]}" >> "$STUB_STATE/installed"
EOF
cat > "$scratch/bin/dpkg" << 'EOF'
#!/usr/bin/env bash
echo "dpkg $*" >> "$STUB_STATE/calls"
case "$1" in
  --print-foreign-architectures) cat "$STUB_STATE/architectures" ;;
  --add-architecture) echo "$2" >> "$STUB_STATE/architectures" ;;
esac
EOF
cat > "$scratch/bin/dpkg-query" << 'EOF'
#!/usr/bin/env bash
package=${*: -1}
grep -qxF "$package" "$STUB_STATE/installed" || exit 1
echo "install ok installed"
EOF
printf '#!/bin/sh\necho 0\n' > "$scratch/bin/id"
printf '#!/bin/sh\n' > "$scratch/bin/sleep"
chmod +x "$scratch/bin/"*

passed=0
failed=0
check() { # check NAME CONDITION...: one assertion of the case being run
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL  $case_name: $name"; fi
}

# run_setup CASE [setup arguments]: a fresh machine unless the case's state
# was prepared; leaves the output in $output and the status in $status.
run_setup() {
  case_name=$1; shift
  output=$(PATH="$scratch/bin:$PATH" "$root/scripts/setup" "$@" 2>&1)
  status=$?
}
fresh_machine() {
  export STUB_STATE=$scratch/state-$1
  mkdir -p "$STUB_STATE"
  : > "$STUB_STATE/installed"; : > "$STUB_STATE/architectures"; : > "$STUB_STATE/calls"
}
has() { grep -qxF "$1" "$STUB_STATE/installed"; }
lacks() { ! has "$1"; }
said() { grep -qF -- "$1" <<< "$output"; }
updates() { grep -c '^apt-get update' "$STUB_STATE/calls"; }

# The main job builds natively: no i386 architecture, no Wine, no cross compilers.
fresh_machine main
unset STUB_UPDATE_FAILURES STUB_BROKEN
run_setup "main job on a fresh machine" --main
check "succeeds" test "$status" -eq 0
check "installs the native build's packages" has libsndfile1-dev
check "installs no Wine" lacks wine64
check "installs no cross compiler" lacks g++-mingw-w64-i686
check "adds no architecture" test ! -s "$STUB_STATE/architectures"

# A mirror out of step for two tries: the third update gets through.
fresh_machine flaky
export STUB_UPDATE_FAILURES=2
run_setup "test command, mirror out of step twice"
check "succeeds" test "$status" -eq 0
check "updates three times" test "$(updates)" -eq 3
check "adds i386 for 32-bit Wine" grep -qx i386 "$STUB_STATE/architectures"
check "installs everything" has wine32:i386
check "installs the native build's packages too" has cmake

# Run again: everything is there, so apt is not asked anything.
: > "$STUB_STATE/calls"
run_setup "second run"
check "succeeds" test "$status" -eq 0
check "asks apt nothing" test "$(grep -c '^apt-get' "$STUB_STATE/calls")" -eq 0
check "says nothing" test -z "$output"

# A mirror that stays broken: setup goes on with the lists it has.
fresh_machine broken-mirror
export STUB_UPDATE_FAILURES=99
run_setup "mirror never recovers"
check "succeeds with the lists it has" test "$status" -eq 0
check "gives up updating after three tries" test "$(updates)" -eq 3
check "says it goes on" said "going on with the package lists"
check "installs" has wine64

# Only the 32-bit Wine package cannot be installed: the rest is, with one line.
fresh_machine held-wine32
export STUB_UPDATE_FAILURES=0 STUB_BROKEN="wine32:i386"
run_setup "32-bit Wine alone not installable"
check "succeeds" test "$status" -eq 0
check "installs the rest" has wine64
check "leaves wine32 out" lacks wine32:i386
check "says so in one line" test "$(grep -c 'wine32:i386 cannot be installed' <<< "$output")" -eq 1
check "does not show apt's complaint about it" test "$(grep -c 'held broken' <<< "$output")" -eq 0

# Any other package that cannot be installed is a failure with apt's message.
fresh_machine held-other
export STUB_BROKEN="wine32:i386 libsndfile1-dev"
run_setup "another package not installable"
check "fails" test "$status" -ne 0
check "shows apt's message" said "held broken packages"
check "installs nothing" test ! -s "$STUB_STATE/installed"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
