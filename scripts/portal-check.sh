#!/usr/bin/env bash
# Checks the open and save panels through a file-chooser portal, on a
# session bus of their own: Kavlo finds the portal before it starts (as the
# program does), asks it for the video and for the export's place, and gets
# document-portal paths (<runtime dir>/doc/<id>/<name>, served by the real
# xdg-document-portal over FUSE), which must open and save like any other.
# The portal itself is a stand-in (scripts/lib/fake_file_chooser.py) that
# logs the filters, the proposed name and the folder it was given.
#
#   scripts/portal-check.sh [build-dir]     (default build-asan)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="${1:-build-asan}"

packages=(xdg-desktop-portal qt6-xdgdesktopportal-platformtheme python3-dbus python3-gi fuse3 dbus)
. scripts/lib/packages.sh
ensure_packages "${packages[@]}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DKAVLO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
fi
cmake --build "$build" --target app_desktop_checks

work="$(mktemp -d)"
chmod 700 "$work"
mkdir -p "$work/runtime" "$work/videos" "$work/exports"
chmod 700 "$work/runtime"
cp resources/example.mp4 "$work/videos/example.mp4"

cat >"$work/session" <<'SESSION'
#!/usr/bin/env bash
set -euo pipefail
work="$1" root="$2" build="$3"
/usr/libexec/xdg-document-portal --replace >"$work/document-portal.log" 2>&1 &
documents=$!
/usr/bin/python3 "$root/scripts/lib/fake_file_chooser.py" "$work/videos/example.mp4" \
  "$work/exports" "$work/portal.jsonl" >"$work/chooser.log" 2>&1 &
chooser=$!
trap 'kill $chooser $documents 2>/dev/null; fusermount3 -u "$XDG_RUNTIME_DIR/doc" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  grep -q ready "$work/chooser.log" 2>/dev/null && break
  sleep 0.2
done
cat "$work/chooser.log"
env -u QT_QPA_PLATFORMTHEME QT_QPA_PLATFORM=offscreen KAVLO_API_BASE_URL= \
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" \
  KAVLO_CHECK_DOCUMENTS="$XDG_RUNTIME_DIR/doc/" KAVLO_CHECK_PORTAL_LOG="$work/portal.jsonl" \
  KAVLO_CHECK_SAVE_FOLDER="$work/exports" \
  "$build/tests/app/app_desktop_checks" --gtest_filter='PortalCheck.*'
SESSION
chmod +x "$work/session"
status=0
XDG_RUNTIME_DIR="$work/runtime" dbus-run-session -- "$work/session" "$work" "$root" "$build" ||
  status=1
echo "portal-check: what the portal was asked:"
cat "$work/portal.jsonl" 2>/dev/null | cut -c1-400 || true
[ "$status" = 0 ] || cat "$work/document-portal.log" "$work/chooser.log" >&2
rm -rf "$work"
exit "$status"
