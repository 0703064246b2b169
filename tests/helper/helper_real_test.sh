#!/usr/bin/env bash
# The helper with its real parts: the system bus, polkitd, pkexec and a user who is
# not root. A polkit rule grants (then denies) a test user the helper's action and
# polkit's generic exec action (a build tree's helper is not at the policy's path).
# As that user, scandor-cli lists a loop device over a FUSE disk with bad ranges and
# scans it through the helper; with the rule denying it exits 3 and says why; the
# window lists the drive under Xvfb (screenshot in $SCANDOR_HELPER_SHOT_DIR, else
# the build tree). Everything started here is stopped by its PID; the user, the
# policy and the rule are removed again.
# Usage: helper_real_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || skip "needs root (test user, loop device, FUSE, polkit rule)"
[ -e /dev/loop-control ] && command -v losetup >/dev/null || skip "no loop devices"
[ -r /dev/fuse ] && command -v fusermount3 >/dev/null || skip "no usable /dev/fuse or fusermount3"
[ -x "$build/tests/scandor_badfile" ] || skip "the FUSE helper was not built (libfuse3-dev missing)"
[ -x /usr/lib/polkit-1/polkitd ] || skip "polkitd is not installed (setup.sh installs it)"
[ -u /usr/bin/pkexec ] || skip "pkexec is not installed setuid (setup.sh installs it)"
command -v dbus-daemon >/dev/null && command -v dbus-send >/dev/null || skip "dbus-daemon is not installed"
command -v runuser >/dev/null || skip "runuser is missing"
for b in scandor-cli scandor-helper; do [ -x "$build/$b" ] || fail "$build/$b is not built"; done

work=$(mktemp -d /tmp/scandor-helper-test.XXXXXX)
chmod 755 "$work"
user="scandor-t$$"
policy=/usr/share/polkit-1/actions/de.kaveno.Scandor.policy
rule=/etc/polkit-1/rules.d/10-scandor-test-$$.rules
started=()   # PIDs this test started, stopped in reverse order
policy_ours=0 user_ours=0 loop="" fuse_pid=""

cleanup() {
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  if [ -n "$fuse_pid" ]; then
    fusermount3 -u "$work/mnt" 2>/dev/null || umount -l "$work/mnt" 2>/dev/null
    for _ in $(seq 40); do kill -0 "$fuse_pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$fuse_pid" 2>/dev/null
  fi
  rm -f "$rule"
  [ "$policy_ours" = 1 ] && rm -f "$policy"
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    kill "${started[i]}" 2>/dev/null
    for _ in $(seq 40); do kill -0 "${started[i]}" 2>/dev/null || break; sleep 0.05; done
    kill -9 "${started[i]}" 2>/dev/null
  done
  [ "$user_ours" = 1 ] && userdel "$user" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

bus_up() { dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
             org.freedesktop.DBus.GetId >/dev/null 2>&1; }
has_owner() { dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
                org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'; }

# The system bus: the running one, else one started with the standard configuration
# (pkexec always talks to /run/dbus/system_bus_socket).
if ! bus_up; then
  getent passwd messagebus >/dev/null || skip "no messagebus user (dbus-system-bus-common)"
  mkdir -p /run/dbus
  # A pid file without a process left by an earlier bus keeps a new one from starting.
  if [ -f /run/dbus/pid ] && ! kill -0 "$(cat /run/dbus/pid)" 2>/dev/null; then rm -f /run/dbus/pid; fi
  pid=$(dbus-daemon --system --fork --print-pid) || fail "dbus-daemon --system did not start"
  started+=("$pid")
  for _ in $(seq 50); do bus_up && break; sleep 0.1; done
  bus_up || fail "the system bus does not answer"
fi

# The policy (naming this build's helper) and the granting rule, before polkitd reads them.
if [ ! -e "$policy" ]; then
  sed "s|@SCANDOR_HELPER_PATH@|$build/scandor-helper|" "$src/resources/package/de.kaveno.Scandor.policy" >"$policy"
  policy_ours=1
fi
write_rule() {
  cat >"$rule" <<JS
polkit.addRule(function(action, subject) {
    if (subject.user == "$user" &&
        (action.id == "de.kaveno.Scandor.helper" || action.id == "org.freedesktop.policykit.exec"))
        return polkit.Result.$1;
});
JS
  chmod 644 "$rule"
}
write_rule YES

if ! has_owner org.freedesktop.PolicyKit1; then
  /usr/lib/polkit-1/polkitd --no-debug >"$work/polkitd.log" 2>&1 &
  started+=("$!")
  for _ in $(seq 100); do has_owner org.freedesktop.PolicyKit1 && break; sleep 0.1; done
  has_owner org.freedesktop.PolicyKit1 || { cat "$work/polkitd.log"; fail "polkitd did not come up"; }
else
  sleep 2  # the running polkitd notices the new files
fi

useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" || fail "useradd"
user_ours=1
as_user() { runuser -u "$user" -- env -i PATH=/usr/bin:/bin LC_ALL=C "$@"; }

# A loop device over the FUSE disk: sector 2048 and eight sectors across the block
# boundary at 6144 fail; its size (8 MiB + 64 KiB) tells it apart in the list; reads
# are slowed so the descriptors can be looked at during the scan.
size=$((8 * 1048576 + 65536))
mkdir -p "$work/mnt"
"$build/tests/scandor_badfile" "$size" "1048576:512,3143680:4096" - "$work/mnt" \
  "--slow=0:$size:20" >"$work/fuse.log" 2>&1 &
fuse_pid=$!
for _ in $(seq 100); do [ "$(stat -c %s "$work/mnt/disk" 2>/dev/null)" = "$size" ] && break; sleep 0.05; done
[ "$(stat -c %s "$work/mnt/disk" 2>/dev/null)" = "$size" ] || { cat "$work/fuse.log"; fail "the FUSE disk did not come up"; }
loop=$(losetup -f --show -r --direct-io=on "$work/mnt/disk") || fail "losetup could not attach a loop device"

# --- granted ----------------------------------------------------------------
# Drive numbers follow the disks present; other tests attach loops meanwhile, so
# list and scan are tried again when the number moved.
number="" ok=0
for attempt in 1 2 3 4 5; do
  as_user "$build/scandor-cli" --json list >"$work/list.json" 2>"$work/list.err"
  code=$?
  [ "$code" = 0 ] || { cat "$work/list.err"; fail "scandor-cli list as $user: exit $code"; }
  number=$(python3 -c 'import json,sys
d=json.load(open(sys.argv[1]))
print(next((x["argument"] for x in d["drives"] if x["sizeBytes"]==int(sys.argv[2])),""))' "$work/list.json" "$size")
  [ -n "$number" ] || { cat "$work/list.json"; fail "the loop device $loop is not listed"; }
  echo "listed as drive $number"
  # Every descriptor any process holds on the device while it is read: read-only.
  as_user "$build/scandor-cli" --json surface "$number" >"$work/scan.json" 2>"$work/scan.err" &
  cli=$!
  python3 - "$loop" "$cli" >"$work/fds.txt" <<'PY'
import os, sys, time
node, cli = sys.argv[1], int(sys.argv[2])
seen = set()
def alive():
    try:
        os.kill(cli, 0)
        return True
    except OSError:
        return False
while alive():
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            for fd in os.listdir(f"/proc/{pid}/fd"):
                if os.readlink(f"/proc/{pid}/fd/{fd}") != node:
                    continue
                flags = next(l.split()[1] for l in open(f"/proc/{pid}/fdinfo/{fd}") if l.startswith("flags:"))
                comm = open(f"/proc/{pid}/comm").read().strip()
                seen.add((comm, flags))
        except (OSError, StopIteration):
            pass
    time.sleep(0.02)
for comm, flags in sorted(seen):
    print(comm, flags)
PY
  wait "$cli"
  code=$?
  cat "$work/fds.txt"
  seen=$(grep -c '^scandor-cli ' "$work/fds.txt")
  while read -r comm flags; do
    [ $((8#$flags & 3)) = 0 ] || fail "$comm holds $loop with flags $flags (not read-only)"
    # Other tests running beside this one may probe the device buffered; the
    # scan's own descriptors must be unbuffered.
    case "$comm" in scandor-cli|scandor-helper) ;; *) continue ;; esac
    [ $((8#$flags & 040000)) != 0 ] || fail "$comm holds $loop with flags $flags (buffered)"
  done <"$work/fds.txt"
  if [ "$code" = 3 ] && grep -q 'another disk\|leads to another' "$work/scan.err"; then continue; fi
  [ "$code" = 1 ] || { cat "$work/scan.err" "$work/scan.json"; fail "surface $number: exit $code, not 1"; }
  [ "$seen" -gt 0 ] || fail "no descriptor of the scanning process on $loop was seen during the run"
  ok=1
  break
done
[ "$ok" = 1 ] || fail "the drive number kept moving"
python3 - "$work/scan.json" "$loop" <<'PY' || { cat "$work/scan.json"; fail "scan result"; }
import json, sys
d = json.load(open(sys.argv[1]))
assert d["device"]["node"] == sys.argv[2], d["device"]
assert d["errorSectors"] == [2048, 6016, 6144], d["errorSectors"]
assert d["endSector"] == 16512 and d["stopSector"] == 16512, (d["endSector"], d["stopSector"])
PY
grep -qx "Device node: $loop" "$work/scan.err" || { cat "$work/scan.err"; fail "no 'Device node' line"; }
echo "scanned $loop through the helper as $user: bad sectors 2048 6016 6144"

# --- the window, granted ------------------------------------------------------
if [ -x "$build/scandor" ] && command -v Xvfb >/dev/null && command -v xdotool >/dev/null \
   && command -v import >/dev/null; then
  shots=${SCANDOR_HELPER_SHOT_DIR:-$build/helper-shots}
  mkdir -p "$shots"
  # A display number of its own: Xvfb picks a free one and writes it out.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  started+=("$!")
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }
  display=:$(head -n1 "$work/display")
  window_list() {  # $1: the screenshot's name; the window is left running
    runuser -u "$user" -- env -i PATH=/usr/bin:/bin LC_ALL=C DISPLAY="$display" XDG_RUNTIME_DIR="$work" \
      "$build/scandor" >"$work/window.log" 2>&1 &
    window=$!
    started+=("$window")
    wid=""
    for _ in $(seq 100); do
      wid=$(DISPLAY=$display xdotool search --name 'Free KAVENO Scandor' 2>/dev/null | head -n1)
      [ -n "$wid" ] && break
      sleep 0.1
    done
    [ -n "$wid" ] || { cat "$work/window.log"; fail "the window did not come up"; }
    sleep 2
    # "Sector Test": the lower of the two big buttons of the first page, where the
    # window definition puts it.
    DISPLAY=$display xdotool mousemove --window "$wid" 300 318 click 1
    sleep 3
    DISPLAY=$display import -window root "$shots/$1"
    kill -0 "$window" 2>/dev/null || { cat "$work/window.log"; fail "the window ended"; }
  }
  window_list window-drive-list.png
  grep -q 'cannot be read' "$work/window.log" && { cat "$work/window.log"; fail "the window could not read something"; }
  kill "$window"
  for _ in $(seq 50); do kill -0 "$window" 2>/dev/null || break; sleep 0.1; done
  for _ in $(seq 50); do DISPLAY=$display xdotool search --name 'Free KAVENO Scandor' >/dev/null 2>&1 || break; sleep 0.1; done
  echo "window screenshot: $shots/window-drive-list.png"
else
  echo "window part left out: needs the scandor window, Xvfb, xdotool and ImageMagick's import"
fi

# --- denied -------------------------------------------------------------------
write_rule NO
code=0
for _ in $(seq 30); do
  as_user "$build/scandor-cli" list >"$work/deny.out" 2>"$work/deny.err"
  code=$?
  [ "$code" = 3 ] && break
  sleep 0.2  # polkitd rereads its rules when it notices the change
done
[ "$code" = 3 ] || { cat "$work/deny.err"; fail "list with the rule denying: exit $code, not 3"; }
grep -q 'Access to the drives was refused' "$work/deny.err" || { cat "$work/deny.err"; fail "no refusal message"; }
[ ! -s "$work/deny.out" ] || fail "a refused list printed drives"
as_user "$build/scandor-cli" --json list --smart >"$work/deny-list.json" 2>/dev/null
code=$?
[ "$code" = 3 ] || fail "list --json with the rule denying: exit $code, not 3"
python3 -c 'import json,sys; d=json.load(open(sys.argv[1]))
assert d["drives"] == [] and d["test"] == "smart" and "refused" in d["error"] and d["exitCode"] == 3, d' \
  "$work/deny-list.json" || { cat "$work/deny-list.json"; fail "the refused list's JSON document"; }
as_user "$build/scandor-cli" --json surface "$number" >"$work/deny.json" 2>/dev/null
code=$?
[ "$code" = 3 ] || fail "surface with the rule denying: exit $code, not 3"
python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert "refused" in d["error"] and d["exitCode"]==3, d' \
  "$work/deny.json" || fail "the refusal's JSON document"
echo "denied: exit 3 and '$(tail -n1 "$work/deny.err")'"
if [ -n "${display:-}" ]; then
  window_list window-refused.png
  echo "window screenshot: $shots/window-refused.png"
fi
echo PASS
