#!/usr/bin/env bash
# Set-up, build, and the demo portal: tavrel serving a small demo site from
# build/demo/www until Ctrl-C. The demo has its own HOME, so its settings and
# log stay inside build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/home/.config/registry" "$demo/run" "$demo/tmp"
cp -r demo/www "$demo/www"
port=${PORT:-8080}
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quorval\\Tavrel]\r\n"InstallDir"="%s"\r\n"RootDir"="%s"\r\n"Port"=dword:%08x\r\n\r\n' \
  "$demo" "$demo/www" "$port" > "$demo/home/.config/registry/HKEY_CURRENT_USER.reg"

export HOME=$demo/home XDG_RUNTIME_DIR=$demo/run TMPDIR=$demo/tmp
unset XDG_CONFIG_HOME
build/bin/tavrel &
pid=$!
trap 'kill -TERM $pid 2>/dev/null; wait $pid' INT TERM
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
echo "Demo portal: http://127.0.0.1:$port/index.html  (log: $demo/Tavrel.log; Ctrl-C stops)"
wait $pid
