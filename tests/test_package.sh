#!/usr/bin/env bash
# The Debian package: built with cpack in a scratch folder, its file list and
# control fields checked, unpacked with dpkg -x into a temporary root where the
# server runs and answers relayctl, its user and data folder made in a second
# temporary root, and the unit checked with systemd-analyze verify. Nothing is
# installed on this machine and only loopback is used.
# Usage: test_package.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build=$(cd "${1:?build folder}" && pwd)
src=$(cd "${2:?source folder}" && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/test_package.XXXXXX")
server_pid=""

cleanup() {
  if [ -n "$server_pid" ]; then
    kill -KILL "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
fatal() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "== $*"; }

# --- the package builds ------------------------------------------------------

step "cpack builds the package"
if ! (cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -B "$tmp/out") >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log" >&2
  fatal "cpack failed"
fi
shopt -s nullglob
debs=("$tmp"/out/*.deb)
shopt -u nullglob
[ ${#debs[@]} -eq 1 ] || fatal "expected one .deb in $tmp/out, found ${#debs[@]}"
deb=${debs[0]}
echo "built ${deb##*/}"

# --- control fields ------------------------------------------------------------

step "control fields"
version=$(sed -n 's/^project(relay_server VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || fatal "no version in $src/CMakeLists.txt"
arch=$(dpkg --print-architecture)
field() { dpkg-deb -f "$deb" "$1"; }

[ "$(field Package)" = relay-server ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the project's is $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
[ "${deb##*/}" = "relay-server_${version}_${arch}.deb" ] || fail "file name ${deb##*/}"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer '$(field Maintainer)'"
[ -n "$(field Description | head -1)" ] || fail "the description has no synopsis"
long_text=$(field Description | sed -n '2p' | sed 's/^ *//')
[ -n "$long_text" ] || fail "the description has no long text"
[ "$long_text" != "$(field Description | head -1)" ] || fail "the long description repeats the synopsis"
depends=$(field Depends)
echo "Depends: $depends"
# libc6 and libstdc++6 come from dpkg-shlibdeps; socat runs setupc's pairs.
dep_names=$(echo "$depends" | tr ',|' '\n\n' | sed 's/^ *//; s/[ (].*//')
for dep in libc6 libstdc++6 socat init-system-helpers; do
  grep -qxF -e "$dep" <<<"$dep_names" || fail "Depends lacks $dep"
done

step "maintainer scripts"
ctrl="$tmp/control"
dpkg-deb -e "$deb" "$ctrl" || fatal "dpkg-deb -e failed"
for script in postinst prerm postrm; do
  if [ ! -x "$ctrl/$script" ]; then
    fail "maintainer script $script missing or not executable"
  elif ! sh -n "$ctrl/$script"; then
    fail "maintainer script $script is not valid sh"
  fi
done
# Files under /etc would be conffiles; the package has none, and above all no data file.
[ ! -s "$ctrl/conffiles" ] || fail "conffiles: $(cat "$ctrl/conffiles")"

# The maintainer scripts with every command they may run replaced by a stub that
# logs its arguments; PATH holds only the stubs, so nothing here can reach the system.
stubs="$tmp/stubs"
mkdir -p "$stubs"
for cmd in systemd-sysusers systemd-tmpfiles useradd getent install rm systemctl \
           deb-systemd-helper deb-systemd-invoke; do
  printf '#!/bin/sh\necho "%s $*" >>"$STUB_LOG"\n' "$cmd" >"$stubs/$cmd"
  chmod 755 "$stubs/$cmd"
done
# No user relay-server exists yet.
echo 'exit 2' >>"$stubs/getent"
run_script() {  # log-name script args...
  local log="$tmp/$1.log" script=$2
  shift 2
  STUB_LOG="$log" PATH="$stubs" /bin/sh "$ctrl/$script" "$@" || fail "$script $* ended with status $?"
}
run_script install postinst configure
grep -qxF "systemd-sysusers /usr/lib/sysusers.d/relay-server.conf" "$tmp/install.log" ||
  fail "postinst configure does not create the user from the packaged sysusers entry"
grep -qxF "systemd-tmpfiles --create /usr/lib/tmpfiles.d/relay-server.conf" "$tmp/install.log" ||
  fail "postinst configure does not create the data folder from the packaged tmpfiles entry"
grep -qxF "deb-systemd-helper enable relay-server.service" "$tmp/install.log" ||
  fail "postinst configure does not enable relay-server.service"
rm "$stubs/systemd-sysusers" "$stubs/systemd-tmpfiles"
run_script no-systemd postinst configure
grep -q "^useradd .*--groups dialout.* relay-server$" "$tmp/no-systemd.log" ||
  fail "postinst without systemd-sysusers does not add the user to dialout"
grep -qxF "install -d -o relay-server -g relay-server -m 0750 /var/lib/relay-server" "$tmp/no-systemd.log" ||
  fail "postinst without systemd-tmpfiles does not create the data folder"
run_script upgrade prerm upgrade 1.0.0
run_script upgrade postrm upgrade 1.0.0
run_script upgrade postrm remove
if grep -E "^rm |stop" "$tmp/upgrade.log"; then
  fail "upgrade or removal deletes data or stops the service in the wrong step"
fi
run_script purge postrm purge
grep -qxF "rm -rf /var/lib/relay-server" "$tmp/purge.log" || fail "purge keeps the data folder"

# --- file list ---------------------------------------------------------------------

step "file list"
dpkg-deb -c "$deb" >"$tmp/contents" || fatal "dpkg-deb -c failed"
# "mode owner path" or "mode owner path -> target", path without the leading ".".
awk '{ p = $6; sub(/^\./, "", p); line = $1 " " $2 " " p; if ($7 == "->") line = line " -> " $8; print line }' \
  "$tmp/contents" >"$tmp/list"

expect_line() {
  grep -qxF -e "$1" "$tmp/list" || fail "not in the package as '$1'"
}
for prog in relay-server relayctl devsim armsim setupc; do
  expect_line "-rwxr-xr-x root/root /usr/lib/relay-server/$prog"
done
for prog in relay-server devsim armsim; do
  expect_line "lrwxrwxrwx root/root /usr/bin/$prog -> ../lib/relay-server/$prog"
done
expect_line "-rwxr-xr-x root/root /usr/bin/relayctl"
expect_line "-rw-r--r-- root/root /usr/lib/systemd/system/relay-server.service"
expect_line "-rw-r--r-- root/root /usr/lib/sysusers.d/relay-server.conf"
expect_line "-rw-r--r-- root/root /usr/lib/tmpfiles.d/relay-server.conf"
if grep -E ' /var(/|$)' "$tmp/list"; then
  fail "the package holds the data folder or files in it; an upgrade would replace them"
fi
if grep -Ei '\.(ini|ndx|sock|lock)$' "$tmp/list"; then
  fail "the package holds settings, registry, socket or lock files"
fi
if awk '$2 != "root/root"' "$tmp/list" | grep .; then
  fail "files not owned by root"
fi

# --- the unpacked server and relayctl --------------------------------------------------

step "unpacked server answers relayctl"
failures_before=$failures
root="$tmp/root"
dpkg -x "$deb" "$root" || fatal "dpkg -x failed"
lib="$root/usr/lib/relay-server"
[ "$(readlink -f "$root/usr/bin/relay-server")" = "$lib/relay-server" ] ||
  fail "/usr/bin/relay-server does not lead to /usr/lib/relay-server/relay-server"
[ -x "$lib/relayctl" ] || fatal "no relayctl in the package"

data="$tmp/data"
empty="$tmp/empty"
ports="$tmp/ports"
mkdir -p "$data" "$empty" "$ports"

udp_hex() { printf '%04X' "$1"; }
# A port that nothing on this machine has bound, as the kernel's socket tables show.
port=""
for _ in $(seq 50); do
  candidate=$((20000 + RANDOM % 40000))
  if ! grep -q ":$(udp_hex "$candidate") " /proc/net/udp /proc/net/udp6 2>/dev/null; then
    port=$candidate
    break
  fi
done
[ -n "$port" ] || fatal "no free UDP port found"
# The internet check off, and its probe host on loopback should it be switched on.
printf '%s\r\n' '[Form1]' 'IpAdrrServ_1=127.0.0.1' "EditPortServ1=$port" 'CheckBox_Internet=0' \
  '[Deployment]' 'InetProbeHost=127.0.0.1' >"$data/relay-server.ini"

"$lib/relay-server" --headless --data-dir "$data" --ports-dir "$ports" >"$tmp/server.log" 2>&1 &
server_pid=$!

bound=""
for _ in $(seq 100); do
  kill -0 "$server_pid" 2>/dev/null || break
  if grep -q "0100007F:$(udp_hex "$port") " /proc/net/udp; then
    bound=yes
    break
  fi
  sleep 0.1
done
if [ -z "$bound" ]; then
  cat "$tmp/server.log" >&2
  fatal "the unpacked server did not bind 127.0.0.1:$port"
fi

# Exit status 3 means no server on that folder yet: the socket may come a moment after the port.
status=3
for _ in $(seq 50); do
  "$lib/relayctl" --data-dir "$data" status >"$tmp/status.out" 2>&1
  status=$?
  [ "$status" -ne 3 ] && break
  sleep 0.1
done
[ "$status" -eq 0 ] || fail "relayctl status: exit status $status: $(cat "$tmp/status.out")"
cat "$tmp/status.out"

"$lib/relayctl" --data-dir "$empty" status >"$tmp/empty.out" 2>&1
status=$?
[ "$status" -eq 3 ] || fail "relayctl status on an empty folder: exit status $status, not 3"

# The /usr/bin wrapper, pointed at the unpacked relayctl instead of the installed one.
wrapper="$tmp/relayctl-wrapper"
sed "s|/usr/lib/relay-server/|$lib/|" "$root/usr/bin/relayctl" >"$wrapper"
grep -qF "$lib/relayctl" "$wrapper" || fail "the wrapper does not run /usr/lib/relay-server/relayctl"
RELAY_DATA_DIR="$data" sh "$wrapper" status >/dev/null 2>&1
status=$?
[ "$status" -eq 0 ] || fail "wrapper with RELAY_DATA_DIR of the running server: exit status $status"
RELAY_DATA_DIR="$empty" sh "$wrapper" status >/dev/null 2>&1
status=$?
[ "$status" -eq 3 ] || fail "wrapper with RELAY_DATA_DIR of an empty folder: exit status $status, not 3"
RELAY_DATA_DIR="$empty" sh "$wrapper" --data-dir "$data" status >/dev/null 2>&1
status=$?
[ "$status" -eq 0 ] || fail "wrapper: a --data-dir of the user does not win: exit status $status"

kill -TERM "$server_pid"
for _ in $(seq 100); do
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$server_pid" 2>/dev/null; then
  fail "the server did not end within 10 s of SIGTERM"
else
  wait "$server_pid"
  status=$?
  server_pid=""
  [ "$status" -eq 0 ] || fail "the server ended with status $status after SIGTERM"
fi
[ -f "$data/relay-server.ini" ] || fail "the server's settings file is gone"
if [ "$failures" -ne "$failures_before" ]; then
  echo "--- server output" >&2
  cat "$tmp/server.log" >&2
fi

# --- user and data folder --------------------------------------------------------------------

step "sysusers and tmpfiles entries in a temporary root"
if ! command -v systemd-sysusers >/dev/null || ! command -v systemd-tmpfiles >/dev/null; then
  echo "SKIPPED: systemd-sysusers or systemd-tmpfiles is not installed"
elif [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: only root can make users and give folders away, even in a temporary root"
else
  sys="$tmp/sysroot"
  mkdir -p "$sys/etc"
  printf 'root:x:0:0:root:/root:/bin/bash\n' >"$sys/etc/passwd"
  printf 'root:x:0:\ndialout:x:20:\n' >"$sys/etc/group"
  if ! systemd-sysusers --root="$sys" "$root/usr/lib/sysusers.d/relay-server.conf"; then
    fail "systemd-sysusers rejected the entry"
  fi
  user_line=$(grep '^relay-server:' "$sys/etc/passwd")
  IFS=: read -r _ _ uid gid _ home shell <<<"$user_line"
  [ -n "$user_line" ] || fail "no user relay-server"
  [ "$home" = /var/lib/relay-server ] || fail "home of relay-server is '$home'"
  [ "$shell" = /usr/sbin/nologin ] || fail "shell of relay-server is '$shell'"
  grep -q '^dialout:x:20:relay-server$' "$sys/etc/group" || fail "relay-server is not in group dialout"
  grep -q "^relay-server:x:$gid:" "$sys/etc/group" || fail "no group relay-server with the user's gid"

  if ! systemd-tmpfiles --root="$sys" --create "$root/usr/lib/tmpfiles.d/relay-server.conf"; then
    fail "systemd-tmpfiles rejected the entry"
  fi
  got=$(stat -c '%a %u %g' "$sys/var/lib/relay-server" 2>/dev/null)
  [ "$got" = "750 $uid $gid" ] || fail "data folder is '$got', not '750 $uid $gid'"
fi

# --- the unit ----------------------------------------------------------------------------------

step "systemd-analyze verify"
if command -v systemd-analyze >/dev/null; then
  # The unpacked root plus this machine's stock units (targets, slices) that the unit
  # pulls in: ExecStart resolves to the unpacked server, not to anything installed here.
  units="$root/usr/lib/systemd/system"
  for d in /usr/lib/systemd/system /lib/systemd/system; do
    if [ -d "$d" ]; then
      cp -an "$d/." "$units/" 2>/dev/null
      break
    fi
  done
  cmp -s "$units/relay-server.service" "$src/packaging/relay-server.service" ||
    fail "the packaged unit differs from packaging/relay-server.service"
  verify_out=$(systemd-analyze verify --root="$root" relay-server.service 2>&1)
  verify_status=$?
  if [ "$verify_status" -ne 0 ] || [ -n "$verify_out" ]; then
    echo "$verify_out" >&2
    fail "systemd-analyze verify reported problems (exit status $verify_status)"
  fi
else
  echo "SKIPPED: systemd-analyze is not installed"
fi

if [ "$failures" -ne 0 ]; then
  echo "package checks failed" >&2
  exit 1
fi
echo "package checks passed"
