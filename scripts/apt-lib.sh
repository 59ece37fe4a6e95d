# Shared by scripts/bootstrap and scripts/build-openssl-mingw (sourced).
#
# Debian's mirrors are sometimes caught mid-sync: one index has the wrong
# size and `apt-get update` exits 100 ("Mirror sync in progress?"). apt keeps
# every index it did fetch, so a run that cannot refresh all of them carries
# on with what it has; only a package that then cannot be installed fails.

: "${MSILAUNCH_APT_ATTEMPTS:=4}"   # apt-get update attempts before carrying on
: "${MSILAUNCH_APT_PAUSE:=15}"     # seconds between attempts

# apt_update [LABEL]: refreshes the package indexes, retrying a few times.
# Always returns 0; says so when it gave up on a complete refresh.
apt_update() {
  local label=${1:-apt} attempt log
  log=$(mktemp)
  for attempt in $(seq 1 "$MSILAUNCH_APT_ATTEMPTS"); do
    if DEBIAN_FRONTEND=noninteractive apt-get update -q >"$log" 2>&1; then
      rm -f "$log"
      return 0
    fi
    echo "$label: apt-get update failed (attempt $attempt of $MSILAUNCH_APT_ATTEMPTS): $(apt_reason "$log")"
    if [ "$attempt" -lt "$MSILAUNCH_APT_ATTEMPTS" ]; then sleep "$MSILAUNCH_APT_PAUSE"; fi
  done
  rm -f "$log"
  echo "$label: carrying on with the package indexes apt already has"
  return 0
}

# The first line of apt's output in LOG that says what went wrong.
apt_reason() {
  local line
  line=$(grep -m1 -E 'unexpected size|Unable to locate|not installable|no installation candidate|Depends:|^E: ' "$1" || true)
  printf '%s' "${line:-apt-get exited with a failure}" | sed 's/^[[:space:]]*//' | cut -c1-300
}

# True when the package (name or name:arch) is installed.
package_installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)" = installed ]
}

# apt_install LOG PACKAGE...: installs without recommends, output in LOG.
apt_install() {
  local log=$1
  shift
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1
}
