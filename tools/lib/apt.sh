# Shell functions for Debian's package tools, sourced by the set-up scripts.
#
# A package index that fails to download (a mirror in the middle of a sync,
# one architecture's index cut short) must not stop the set-up: the update
# is tried twice, and then one warning line names what failed, and the
# set-up goes on with the lists it has. It fails later only if a package it
# needs cannot be installed, and then it names that package and why.
#
# The archive's address is never written down here: private configurations
# take it from the sources the system is already configured with.

# Lock waits: another apt run (a second set-up, an unattended upgrade) may
# hold dpkg's lock for a while.
VEK_APT_WAIT=(-o DPkg::Lock::Timeout=600)

vek_warn() { printf 'setup: warning: %s\n' "$*" >&2; }

# vek_apt_update [apt-get options...]
# Refreshes the package lists; never fails.
vek_apt_update() {
  local log try failed
  log=$(mktemp)
  for try in 1 2; do
    if apt-get "$@" "${VEK_APT_WAIT[@]}" -q update >"$log" 2>&1; then
      rm -f "$log"
      return 0
    fi
    [ "$try" = 1 ] && sleep "${VEK_APT_RETRY_PAUSE:-5}"
  done
  # "E: Failed to fetch URI  reason" (or W:), one per index.
  failed=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\) *\(.*\)$/\1 (\2)/p' "$log" | sed 's/ *\[IP: [^]]*\]//' | paste -sd ';' -)
  [ -n "$failed" ] || failed=$(grep -E '^(E|Err):' "$log" | head -n 2 | paste -sd ';' -)
  vek_warn "package lists not fully refreshed after two tries, going on with those at hand: ${failed:-apt-get update failed}"
  rm -f "$log"
  return 0
}

# vek_apt_install OPTIONS... -- PACKAGES...
# Installs the packages (no recommends). On failure, finds which packages
# cannot be installed and names each with apt's reason; returns 1.
vek_apt_install() {
  local opts=() pkgs=() log p reason bad=0
  while [ $# -gt 0 ] && [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift || true
  pkgs=("$@")
  [ ${#pkgs[@]} -gt 0 ] || return 0
  log=$(mktemp)
  if DEBIAN_FRONTEND=noninteractive apt-get "${opts[@]}" "${VEK_APT_WAIT[@]}" -y -q \
       --no-install-recommends install "${pkgs[@]}" >"$log" 2>&1; then
    # What was asked for, and how many more packages came with it (or,
    # simulated, would come).
    local n
    n=$(grep -c -E '^(Setting up|Inst) ' "$log" || true)
    printf 'setup: installed %s' "${pkgs[*]}"
    [ "$n" -gt ${#pkgs[@]} ] && printf ' (%d packages in all)' "$n"
    printf '\n'
    rm -f "$log"
    return 0
  fi
  # One package at a time, simulated, to name the ones at fault.
  for p in "${pkgs[@]}"; do
    if ! apt-get "${opts[@]}" -s -q --no-install-recommends install "$p" >"$log.one" 2>&1; then
      reason=$(grep -E ' : (Pre)?Depends:|^E: ' "$log.one" | grep -v 'held broken packages' | head -n 1 | sed 's/^E: //; s/^ *//')
      printf 'setup: cannot install %s: %s\n' "$p" "${reason:-see apt-get install $p}" >&2
      bad=1
    fi
  done
  if [ "$bad" = 0 ]; then
    # Each installs alone: the failure is in the installation itself.
    printf 'setup: installing %s failed:\n' "${pkgs[*]}" >&2
    tail -n 15 "$log" >&2
  fi
  rm -f "$log" "$log.one"
  return 1
}

# vek_archive_uri: the address of the Debian archive this system installs
# from (its first configured source that is not the security archive).
vek_archive_uri() {
  local uri
  uri=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null |
        grep -v -- '-security' | head -n 1)
  if [ -z "$uri" ]; then
    uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
          awk '$1 == "deb" && $0 !~ /security/ { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z+]+:/) { print $i; exit } }')
  fi
  [ -n "$uri" ] || { echo "setup: no Debian archive in apt's configured sources" >&2; return 1; }
  printf '%s\n' "$uri"
}

# vek_codename: the Debian release this system runs (bookworm).
vek_codename() {
  . /etc/os-release 2>/dev/null
  printf '%s\n' "${VERSION_CODENAME:-bookworm}"
}

# vek_private_apt DIR LINE...
# A private apt configuration in DIR: its own source list (the LINEs, in
# one-line format), lists, cache and an empty package status, so that
# nothing of the system's apt set-up or package state is read or touched.
# Sets the array VEK_APT_PRIVATE to the options that select it.
vek_private_apt() {
  local dir=$1
  shift
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
  printf '%s\n' "$@" >"$dir/sources.list"
  [ -f "$dir/status" ] || : >"$dir/status"
  VEK_APT_PRIVATE=(
    -o "Dir::Etc::SourceList=$dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache"
    -o "Dir::State::status=$dir/status"
  )
}
