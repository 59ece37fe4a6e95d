# Sourced by the scripts that make what ships: the paths of this machine that
# no shipped program and no cached library may carry, and the search for them.
# A program that carries one differs from the same commit built elsewhere,
# and tells whoever runs it where it was built.

# machine_paths [FOLDER...]: the cache folder, the home folder and the
# folders given, each with a trailing slash, as written and resolved. The
# slash keeps a short home folder such as /root from matching "/rootkit";
# a home folder of "/" is no path at all ("//" turns up in any URL).
machine_paths() {
  local cache=${MSILAUNCH_CACHE:-$HOME/.cache/msilaunch} p form
  for p in "$cache" "${HOME:-}" "$@"; do
    p=${p%/}
    [ -n "$p" ] || continue
    for form in "$p" "$(realpath -m "$p")"; do
      [ "$form" = / ] || printf '%s/\n' "$form"
    done
  done | awk '!seen[$0]++'
}

# machine_paths_in FILE [FOLDER...]: each of machine_paths that FILE's bytes
# hold, as "COUNT<tab>PATH"; nothing when there is none.
machine_paths_in() {
  local file=$1 p n
  shift
  while IFS= read -r p; do
    n=$(LC_ALL=C grep -o -F -a -- "$p" "$file" | wc -l)
    [ "$n" = 0 ] || printf '%s\t%s\n' "$n" "$p"
  done < <(machine_paths "$@")
}
