#!/usr/bin/env bash
# Installs the package on a fresh Debian 12 (a debootstrap chroot) and checks
# what a user would: apt-get brings the dependencies, `kavlo` starts from a
# terminal and from its desktop entry (through GIO, as file managers launch
# it), "Open With" lists it for videos, and `apt-get remove` leaves nothing
# behind. The windows open on the host's Xvfb.
#
#   scripts/install-check.sh [deb] [display-number]
#       (default dist/kavlo_*.deb and 99; the chroot is kept in
#        ${KAVLO_CHROOT:-/tmp/kavlo-chroot} for the next run)
set -euo pipefail
cd "$(dirname "$0")/.."
deb="${1:-$(ls dist/kavlo_*.deb | tail -1)}"
display=":${2:-99}"
chroot_dir="${KAVLO_CHROOT:-/tmp/kavlo-chroot}"
[ "$(id -u)" -eq 0 ] || { echo "install-check: needs root (debootstrap, chroot)" >&2; exit 1; }
command -v debootstrap >/dev/null ||
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends debootstrap
if [ ! -x "$chroot_dir/usr/bin/apt-get" ]; then
  debootstrap --variant=minbase bookworm "$chroot_dir" http://deb.debian.org/debian
fi

Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp &
xvfb=$!
mkdir -p "$chroot_dir/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$chroot_dir/tmp/.X11-unix"
mount -t proc proc "$chroot_dir/proc"
cleanup() {
  kill "$xvfb" 2>/dev/null || true
  umount "$chroot_dir/proc" "$chroot_dir/tmp/.X11-unix" 2>/dev/null || true
}
trap cleanup EXIT
cp "$deb" "$chroot_dir/tmp/"
in_chroot() { chroot "$chroot_dir" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }
# Whether a Kavlo window shows on the display within 30 seconds.
window_appears() {
  for _ in $(seq 150); do
    DISPLAY="$display" xdotool search --onlyvisible --name '^Kavlo$' >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}
# Ends the Kavlo whose window is shown (by the process id the window gives).
stop_kavlo() {
  local pid
  pid="$(DISPLAY="$display" xdotool search --onlyvisible --name '^Kavlo$' getwindowpid 2>/dev/null | head -1)"
  [ -n "$pid" ] && kill "$pid"
  sleep 1
}

echo "== a desktop's own tools: GIO's launcher and the MIME cache"
in_chroot apt-get update -q
in_chroot apt-get install -y -q --no-install-recommends libglib2.0-bin desktop-file-utils \
  shared-mime-info
before="$(in_chroot sh -c 'find /usr /etc /var/lib -xdev | sort' )"

echo "== apt-get install ./$(basename "$deb")"
in_chroot apt-get install -y -q "/tmp/$(basename "$deb")" | tail -3
in_chroot dpkg-query -W -f='${Package} ${Version} ${Status}\n' kavlo

echo "== from a terminal"
in_chroot env DISPLAY="$display" KAVLO_API_BASE_URL= sh -c 'kavlo /usr/share/kavlo/example.mp4 >/tmp/kavlo-terminal.log 2>&1 &'
window_appears && echo "kavlo: window shown" || { echo "kavlo: no window" >&2; cat "$chroot_dir/tmp/kavlo-terminal.log" >&2; exit 1; }
stop_kavlo

echo "== from the desktop entry"
in_chroot env DISPLAY="$display" KAVLO_API_BASE_URL= sh -c \
  'gio launch /usr/share/applications/com.tarsel.kavlo.desktop /usr/share/kavlo/example.mp4 >/tmp/kavlo-entry.log 2>&1 &'
window_appears && echo "desktop entry: window shown" || { echo "desktop entry: no window" >&2; cat "$chroot_dir/tmp/kavlo-entry.log" >&2; exit 1; }
stop_kavlo

echo "== Open With for videos"
in_chroot gio mime video/mp4 | grep -A20 'Registered applications' | grep -q com.tarsel.kavlo.desktop
in_chroot gio mime video/x-matroska | grep -q com.tarsel.kavlo.desktop
echo "video/mp4 and video/x-matroska list com.tarsel.kavlo.desktop"

echo "== apt-get remove kavlo"
in_chroot apt-get remove -y -q kavlo | tail -1
after="$(in_chroot sh -c 'find /usr /etc /var/lib -xdev | sort')"
left="$(comm -13 <(echo "$before") <(echo "$after") | grep -v -e '^/var/lib/apt/' -e '^/var/lib/dpkg/' -e '^/var/cache/' -e '^/usr/lib/x86_64-linux-gnu/gdk-pixbuf' || true)"
status="$(in_chroot dpkg-query -W -f='${Status}' kavlo 2>/dev/null || echo 'not known')"
echo "dpkg: kavlo $status"
if in_chroot grep -rl kavlo /usr/share/applications/mimeinfo.cache 2>/dev/null; then
  echo "install-check: the MIME cache still names kavlo" >&2
  exit 1
fi
# What the install brought besides kavlo (its dependencies) stays; nothing of
# kavlo's own may.
if echo "$left" | grep -i kavlo; then
  echo "install-check: left behind" >&2
  exit 1
fi
echo "install-check: nothing of kavlo's left behind"
