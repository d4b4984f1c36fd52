#!/usr/bin/env bash
# CGI throughput: the same small CGI program behind tavrel and behind
# lighttpd's mod_cgi, each loaded with ab (concurrency 8). Prints requests
# per second for both and their ratio (tavrel / lighttpd).
#
#   bash bench/cgi_throughput.sh [REQUESTS]     (default 4000)
#
# Builds tavrel if needed and installs lighttpd and ab (apache2-utils) from
# Debian's packages when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
requests=${1:-4000}
concurrency=8

need=()
command -v lighttpd >/dev/null || need+=(lighttpd)
command -v ab >/dev/null || need+=(apache2-utils)
command -v cc >/dev/null || need+=(build-essential)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q && apt-get install -y -q --no-install-recommends "${need[@]}"
fi
[ -x build/bin/tavrel ] && [ -x build/bin/velmoria-host ] || bash scripts/build.sh build

work=$(mktemp -d /tmp/cgi-bench-XXXXXX)
cleanup() {
  for pid in ${pids:-}; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www" "$work/home/.config/registry" "$work/run" "$work/tmp" "$work/install"

# The program: a compiled CGI that answers a short text page with its query,
# so that the servers' own cost, not an interpreter's start-up, is measured.
cat > "$work/hello.c" <<'C'
#include <stdio.h>
#include <stdlib.h>
int main(void) {
  const char *q = getenv("QUERY_STRING");
  printf("Content-Type: text/plain\n\nhello %s\n", q ? q : "");
  return 0;
}
C
cc -O2 -o "$work/www/hello.cgi" "$work/hello.c"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# tavrel beside the host stand-in, in a private environment.
tport=$(free_port)
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quorval\\Tavrel]\r\n"InstallDir"="%s"\r\n"RootDir"="%s"\r\n"Port"=dword:%08x\r\n\r\n' \
  "$work/install" "$work/www" "$tport" > "$work/home/.config/registry/HKEY_CURRENT_USER.reg"
(
  export HOME=$work/home XDG_RUNTIME_DIR=$work/run TMPDIR=$work/tmp
  unset XDG_CONFIG_HOME
  exec build/bin/velmoria-host --host 127.0.0 --domain 1 > /dev/null
) &
pids="$!"
for _ in $(seq 100); do [ -S "$work/run/winstation/windows/velmoria" ] && break; sleep 0.05; done
(
  export HOME=$work/home XDG_RUNTIME_DIR=$work/run TMPDIR=$work/tmp
  unset XDG_CONFIG_HOME
  exec build/bin/tavrel
) &
pids="$pids $!"

# lighttpd with mod_cgi on the same directory.
lport=$(free_port)
cat > "$work/lighttpd.conf" <<CONF
server.document-root = "$work/www"
server.port = $lport
server.bind = "127.0.0.1"
server.modules = ("mod_cgi")
cgi.assign = (".cgi" => "")
server.errorlog = "$work/lighttpd.err"
server.max-keep-alive-requests = 0
CONF
lighttpd -D -f "$work/lighttpd.conf" &
pids="$pids $!"

wait_up() {
  for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$1/hello.cgi?up" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  echo "server on port $1 did not answer" >&2
  exit 1
}
wait_up "$tport"
wait_up "$lport"

rate() {
  ab -q -n "$requests" -c "$concurrency" "http://127.0.0.1:$1/hello.cgi?bench" 2>/dev/null |
    awk '/^Requests per second/ {print $4} /^Failed requests/ {if ($3 != 0) print "failed " $3 > "/dev/stderr"}'
}
# One warm-up round each, then the measured rounds, alternating.
rate "$tport" >/dev/null
rate "$lport" >/dev/null
t=0 l=0
for round in 1 2 3; do
  tr=$(rate "$tport"); lr=$(rate "$lport")
  echo "round $round: tavrel $tr req/s, lighttpd $lr req/s"
  t=$(python3 -c "print($t + $tr)"); l=$(python3 -c "print($l + $lr)")
done
python3 - "$t" "$l" <<'PY'
import sys
t, l = float(sys.argv[1]) / 3, float(sys.argv[2]) / 3
print("mean: tavrel %.0f req/s, lighttpd %.0f req/s, ratio tavrel/lighttpd %.2f" % (t, l, t / l))
PY
