#!/usr/bin/env bash
# The update check's loopback proxies (tests/windows/UpdateProxy.py), started
# by setup with a fresh self-signed certificate and stopped by their PID by
# cleanup: update-proxy-fixture.sh setup|cleanup OUT SRC
set -euo pipefail
out=$(realpath -m "$2") src=$3
# Both steps stop the proxies an earlier setup started.
[ -f "$out/proxy.pid" ] && { kill "$(cat "$out/proxy.pid")" 2>/dev/null || true; rm -f "$out/proxy.pid"; }
[ "$1" = cleanup ] && exit 0
rm -rf "$out" && mkdir -p "$out"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$out/key.pem" -out "$out/cert.pem" \
  -subj "/CN=update.glint.example" -days 30 2>/dev/null
setsid python3 "$src/tests/windows/UpdateProxy.py" "$out/ports" "$out/proxy.log" \
  "$out/cert.pem" "$out/key.pem" >/dev/null 2>&1 </dev/null &
echo $! >"$out/proxy.pid"
for _ in $(seq 100); do
  [ -f "$out/ports" ] && exit 0
  sleep 0.05
done
echo "update-proxy-fixture: the proxies did not start" >&2
exit 1
