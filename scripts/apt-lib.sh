# Shared by scripts/bootstrap and the scripts that cross-build libraries (sourced).
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

# ensure_source_lines PACKAGE [VERSION]: makes apt know Debian's source
# package PACKAGE (that VERSION, when given), adding a deb-src line for the
# binary packages' mirrors and refreshing when it does not yet.
ensure_source_lines() {
  local package=$1 version=${2:-} list=/etc/apt/sources.list.d/msilaunch-deb-src.sources
  apt-cache showsrc "$package" 2>/dev/null | grep -q "^Version: ${version}" && return 0
  if [ ! -f "$list" ]; then
    sed -n '1,/^$/p' /etc/apt/sources.list.d/debian.sources | sed 's/^Types: deb$/Types: deb-src/' > "$list"
  fi
  apt_update "source-lines"
}

# source_version PACKAGE: the version of the source package apt offers, or
# nothing.
source_version() {
  ensure_source_lines "$1"
  apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/{print $2; exit}' || true
}

# fetch_source PACKAGE VERSION DIR: downloads the source package (.dsc and
# tarballs) into DIR, for the caller to unpack.
fetch_source() {
  ensure_source_lines "$1" "$2"
  (cd "$3" && apt-get source -q --download-only "$1=$2" >/dev/null 2>&1) || {
    echo "fetch-source: no source package $1=$2 in apt's indexes" >&2
    return 1
  }
}
