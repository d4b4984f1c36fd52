#!/usr/bin/env bash
# Set-up, build, and the demo portal: tavrel serving a small demo site from
# build/demo/www beside velmoria-host (the host program's stand-in, which
# gives the public host name 127.0.0.1), until Ctrl-C. The site's CGI
# programs are the built ones. The demo has its own HOME, so its settings and
# log stay inside build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/home/.config/registry" "$demo/run" "$demo/tmp"
cp -r demo/www "$demo/www"
for program in build/bin/*.cgi; do
  if [ -e "$program" ]; then install -m 755 "$program" "$demo/www/$(basename "$program")"; fi
done
port=${PORT:-8080}
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quorval\\Tavrel]\r\n"InstallDir"="%s"\r\n"RootDir"="%s"\r\n"DefaultHTML"="index.html intro.html"\r\n"Port"=dword:%08x\r\n\r\n' \
  "$demo" "$demo/www" "$port" > "$demo/home/.config/registry/HKEY_CURRENT_USER.reg"

export HOME=$demo/home XDG_RUNTIME_DIR=$demo/run TMPDIR=$demo/tmp
unset XDG_CONFIG_HOME
build/bin/velmoria-host --host 127.0.0 --domain 1 > "$demo/host-messages.txt" &
host=$!
for _ in $(seq 50); do
  [ -S "$demo/run/winstation/windows/velmoria" ] && break
  sleep 0.1
done
build/bin/tavrel &
pid=$!
trap 'kill -TERM $pid 2>/dev/null; wait $pid; kill -TERM $host 2>/dev/null; wait $host' INT TERM EXIT
for _ in $(seq 50); do
  grep -aq "Port " "$demo/Tavrel.log" 2>/dev/null && break
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
if ! kill -0 $pid 2>/dev/null; then
  echo "tavrel did not start; its log:" >&2
  iconv -f EUC-KR -t UTF-8 "$demo/Tavrel.log" >&2 || true
  exit 1
fi
echo "Demo portal: http://127.0.0.1:$port/  (log: $demo/Tavrel.log; Ctrl-C stops)"
wait $pid || true
