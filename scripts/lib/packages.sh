# ensure_packages PACKAGE...: installs with apt whichever of the named Debian
# packages are not installed yet, as root or through sudo. Nothing is fetched
# when all of them are there.
ensure_packages() {
  local missing=() p sudo=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "$(basename "$0"): installing ${missing[*]}" >&2
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}
