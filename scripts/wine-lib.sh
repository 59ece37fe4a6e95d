# Shared by tests/wine/wine-run, tests/guest/lane, tests/guest/image (inside
# the guest too), scripts/demo and scripts/launcher-bench (sourced): the one
# answer to "does 32-bit Wine run here?", the one way a Wine prefix is made,
# and an Xvfb display to run it on.

# Whether this machine runs Debian's 32-bit Wine. Its loader is a 32-bit ELF
# program, so this fails without wine32:i386 and on a kernel without IA-32
# mode alike; no 32-bit PE can run then either.
wine_runs_32bit() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# wine_make_prefix LOADER [OVERRIDES]: creates the prefix $WINEPREFIX (of
# $WINEARCH) with the Wine loader LOADER, printing what Wine says, and marks
# it complete with the stamp $WINEPREFIX/.msilaunch-prefix, so that a
# creation cut off half-way is never trusted. OVERRIDES (e.g.
# "winemenubuilder.exe=d") join the DLL overrides of the creation, which
# always refuse Mono and Gecko: their download prompts would wait forever.
#
# Under emulation on a busy host the first boot of a prefix can outlast
# Wine's own wait for it ("boot event wait timed out"): the loader gives up,
# but the boot it started goes on. So it is waited for, never killed, and
# then run again (up to twice) to finish the job.
#
# Its windows are unmanaged: Xvfb runs no window manager, and Wine waits up
# to 2 s for one whenever a window with a caption closes unless the prefix
# says that none manages its windows.
wine_make_prefix() {
  local loader=$1 overrides=${2:+;$2} try
  for try in 1 2 3; do
    echo "wineboot attempt $try"
    WINEDLLOVERRIDES="mscoree,mshtml=$overrides" "$loader" wineboot -i && break
    [ "$try" -lt 3 ] || return 1
    "${loader%/*}/wineserver" -w || true
  done
  "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f &&
    "${loader%/*}/wineserver" -w &&
    touch "$WINEPREFIX/.msilaunch-prefix"
}

# wine_prefix_ready: whether $WINEPREFIX was made complete by wine_make_prefix.
wine_prefix_ready() {
  [ -f "$WINEPREFIX/.msilaunch-prefix" ]
}

# wine_start_xvfb FIRST LOG: starts Xvfb on the first free display number
# from FIRST on, in a session of its own, its output in LOG; exports DISPLAY
# and sets xvfb_number and xvfb_pid. Fails when no number up to FIRST + 100
# gave a display.
wine_start_xvfb() {
  local first=$1 log=$2 number
  for number in $(seq "$first" $((first + 100))); do
    [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] && continue
    setsid Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >"$log" 2>&1 </dev/null &
    xvfb_pid=$!
    # Up to a minute: an emulated guest starts it slowly.
    for _ in $(seq 600); do
      [ -S "/tmp/.X11-unix/X$number" ] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ -S "/tmp/.X11-unix/X$number" ]; then
      xvfb_number=$number
      export DISPLAY=":$number"
      return 0
    fi
    kill "$xvfb_pid" 2>/dev/null || true  # lost a race for this number: try the next
  done
  return 1
}
