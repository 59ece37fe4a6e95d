#!/usr/bin/env bash
# Drives scripts/bootstrap with stand-ins for apt-get, dpkg and dpkg-query on
# PATH and checks what it asks apt to do and what it prints: a mirror caught
# mid-sync, a 32-bit half that cannot be had, a machine without IA-32 mode,
# and a required package that cannot be installed.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The stand-ins keep their state in $FAKE: installed (one package per line),
# architectures, refused (packages apt cannot install), update-failures (how
# many apt-get update calls fail before one works), calls (what was run).
mkdir -p "$work/bin"
cat > "$work/bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "apt-get $*" >> "$FAKE/calls"
case "$1" in
  update)
    n=$(( $(cat "$FAKE/updates" 2>/dev/null || echo 0) + 1 )); echo $n > "$FAKE/updates"
    if [ "$n" -le "$(cat "$FAKE/update-failures")" ]; then
      echo "Err:6 http://deb.debian.org/debian-security bookworm-security/main i386 Packages"
      echo "  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi ;;
  install)
    shift; pkgs=()
    for a in "$@"; do case $a in -*) ;; *) pkgs+=("$a") ;; esac; done
    for p in "${pkgs[@]}"; do
      if grep -qx "$p" "$FAKE/refused"; then
        echo "The following packages have unmet dependencies:"
        echo " $p : Depends: libavahi-client3 (>= 0.6.16) but it is not going to be installed"
        echo "E: Unable to correct problems, you have held broken packages."
        exit 100
      fi
    done
    printf '%s\n' "${pkgs[@]}" >> "$FAKE/installed" ;;
esac
FAKE
cat > "$work/bin/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
pkg=${!#}
if [ "$pkg" = '*:i386' ]; then grep ':i386$' "$FAKE/installed"; exit 0; fi
grep -qx "$pkg" "$FAKE/installed" && { printf installed; exit 0; }
exit 1
FAKE
cat > "$work/bin/dpkg" <<'FAKE'
#!/usr/bin/env bash
echo "dpkg $*" >> "$FAKE/calls"
case "$1" in
  --print-foreign-architectures) cat "$FAKE/architectures" ;;
  --add-architecture) echo "$2" >> "$FAKE/architectures" ;;
  --remove-architecture) sed -i "/^$2\$/d" "$FAKE/architectures" ;;
esac
FAKE
chmod +x "$work/bin/"*

required=$(sed -n '/^required=(/,/^)/p' "$root/scripts/bootstrap" | sed '1d;$d' | tr -s ' \n' '\n' | sed '/^$/d')
guest="qemu-system-x86 debootstrap e2fsprogs"

failures=0
# run NAME CAN32 UPDATE_FAILURES INSTALLED REFUSED EXPECTED_STATUS
run() {
  local name=$1 can32=$2 updateFailures=$3 installed=$4 refused=$5 expectedStatus=$6
  FAKE="$work/$name"; export FAKE
  mkdir -p "$FAKE"; : > "$FAKE/calls"; : > "$FAKE/architectures"
  echo "$updateFailures" > "$FAKE/update-failures"
  printf '%s\n' $installed > "$FAKE/installed"
  printf '%s\n' $refused > "$FAKE/refused"
  PATH="$work/bin:$PATH" MSILAUNCH_APT_PAUSE=0 MSILAUNCH_PROBE_32BIT=$can32 MSILAUNCH_BUILD_OPENSSL=true MSILAUNCH_BUILD_LIBDEFLATE=true \
    "$root/scripts/bootstrap" > "$FAKE/out" 2>&1
  status=$?
  if [ "$status" != "$expectedStatus" ]; then
    fail "$name: exit status $status, expected $expectedStatus"
  fi
}
fail() { echo "FAIL: $*"; echo "--- output"; cat "$FAKE/out"; echo "--- calls"; cat "$FAKE/calls"; failures=$((failures + 1)); }
expect_out() { grep -qF -- "$1" "$FAKE/out" || fail "$CASE: output lacks: $1"; }
expect_no_out() { ! grep -qF -- "$1" "$FAKE/out" || fail "$CASE: output has: $1"; }
expect_installed() { local p; for p; do grep -qx "$p" "$FAKE/installed" || fail "$CASE: $p not installed"; done; }
expect_not_installed() { local p; for p; do ! grep -qx "$p" "$FAKE/installed" || fail "$CASE: $p installed"; done; }
expect_calls() { [ "$(grep -c -- "$1" "$FAKE/calls")" = "$2" ] || fail "$CASE: '$1' called $(grep -c -- "$1" "$FAKE/calls") times, expected $2"; }

CASE=update-fails-twice-then-works
run $CASE true 2 "" "" 0
expect_calls "apt-get update" 3
expect_out "apt-get update failed (attempt 1 of 4): File has unexpected size"
expect_out "apt-get update failed (attempt 2 of 4)"
expect_no_out "carrying on"
expect_installed $required $guest wine32:i386
expect_not_installed qemu-user-static
grep -qx i386 "$FAKE/architectures" || fail "$CASE: i386 not added on a machine that runs 32-bit code"

CASE=update-fails-for-good-everything-present
run $CASE true 99 "$required $guest" "wine32:i386" 0
expect_calls "apt-get update" 1
expect_out "carrying on with the package indexes apt already has"
expect_out "optional wine32:i386 not installed (wine32:i386 : Depends: libavahi-client3"
expect_out "the 32-bit Wine tests will run in the emulated guest"
[ "$(grep -c 'wine32' "$FAKE/out")" = 1 ] || fail "$CASE: the optional package takes more than one line"
! grep -qx i386 "$FAKE/architectures" || fail "$CASE: i386 left behind after the 32-bit half failed"

CASE=optional-refused-installs-guest
run $CASE true 0 "$required" "wine32:i386" 0
expect_out "optional wine32:i386 not installed"
expect_installed $guest
expect_not_installed qemu-user-static wine32:i386

CASE=no-ia32-mode
run $CASE false 0 "$required" "" 0
expect_calls "dpkg --add-architecture" 0
expect_calls "wine32" 0
expect_installed $guest qemu-user-static

CASE=everything-present-no-apt
run $CASE false 0 "$required $guest qemu-user-static" "" 0
expect_calls "apt-get" 0
expect_calls "dpkg --add-architecture" 0
[ ! -s "$FAKE/out" ] || fail "$CASE: printed something with everything present"

CASE=required-refused-names-it
run $CASE true 99 "" "wixl" 1
expect_calls "apt-get update" 4
expect_out "carrying on with the package indexes apt already has"
expect_out "cannot install required package wixl: wixl : Depends: libavahi-client3"
expect_out "failed: the build needs wixl"
expect_installed cmake osslsigncode icoutils

if [ "$failures" = 0 ]; then echo "bootstrap_test: all cases passed"; exit 0; fi
exit 1
