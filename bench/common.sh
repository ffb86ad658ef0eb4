# Shared by the end-to-end load scripts: the binaries of a build, a scratch
# directory removed at exit with every background job, a random loopback port
# for the server (and the next one for devsim), and a settings file binding
# interface 1 to it, with the internet check off and its probe host on loopback
# should it be switched on.   Usage: . bench/common.sh BUILD_DIR
bin="$(cd "$1/bin" && pwd)"
work=$(mktemp -d /tmp/relay-bench-XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
port=$((20000 + RANDOM % 30000))
devport=$((port + 1))
printf '%s\r\n' '[Form1]' 'IpAdrrServ_1=127.0.0.1' "EditPortServ1=$port" 'CheckBox_Internet=0' \
  '[Deployment]' 'InetProbeHost=127.0.0.1' > "$work/relay-server.ini"
