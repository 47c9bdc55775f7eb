#!/usr/bin/env bash
# The add-in tests' packages signed under development root A, and AddInServer.py
# (started by setup, stopped by its PID by cleanup): addin-fixture.sh setup|cleanup OUT SRC EXE
set -euo pipefail
out=$(realpath -m "$2") src=$3
# Both steps stop the server an earlier setup started.
[ -f "$out/server.pid" ] && { kill "$(cat "$out/server.pid")" 2>/dev/null || true; rm -f "$out/server.pid"; }
[ "$1" = cleanup ] && exit 0
rm -rf "$out" && mkdir -p "$out/serve" "$out/work" && cd "$out/work"
openssl x509 -inform DER -in "$src/src/resources/roots/DevelopmentRootA.der" -out rootA.pem
openssl req -new -newkey rsa:2048 -nodes -keyout signer.key -subj "/CN=Glint Add-in Signer" \
  -out signer.csr 2>/dev/null
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n' >signer.ext
openssl x509 -req -in signer.csr -CA rootA.pem -CAkey "$src/tests/keys/DevelopmentRootA.key" \
  -CAcreateserial -days 3650 -sha256 -extfile signer.ext -out signer.pem 2>/dev/null
# Another root's signer: verifies, but not against root A.
openssl req -x509 -newkey rsa:2048 -nodes -keyout stranger.key -subj "/CN=Stranger" -days 3650 \
  -out stranger.pem 2>/dev/null
sign() {  # sign NAME [SIGNER]: NAME.bin or NAME.txt into the served NAME file
  local in=$1.bin who=${2:-signer}
  [ -f "$in" ] || in=$1.txt
  openssl cms -sign -nodetach -binary -outform DER -md sha256 -signer "$who.pem" \
    -inkey "$who.key" -in "$in" -out "$out/serve/${3:-$1.pkg}"
}
python3 - "$(realpath "$4")" <<'PY'
import base64, hashlib, struct, sys, zlib
exe = open(sys.argv[1], "rb").read()
def package(payload, unpacked):
    return b"Troy" + struct.pack("<I", unpacked) + payload
open("glintaddin.bin", "wb").write(package(zlib.compress(exe), len(exe)))
# Ten bytes of content announcing 100: refused before any memory is taken.
open("oversize.bin", "wb").write(package(b"zz", 100))
open("broken.bin", "wb").write(package(b"not zlib at all" * 4, 60))
# 32 MiB announcing just under ten times that: allowed by the size rule, more
# than a broker whose memory the test has limited can take.
open("huge.bin", "wb").write(package(bytes((32 << 20) - 8), 10 * (32 << 20) - 1))
digest = base64.b64encode(hashlib.sha256(exe).digest()).decode()
lines = '<Reference URI="glintaddin.exe" />\r\n<DigestValue>%s</DigestValue>\r\n' % digest
open("manifest.txt", "w", newline="").write(lines)
PY
for name in glintaddin oversize broken huge; do sign $name; done
sign manifest signer glintaddin.digest
sign glintaddin stranger stranger.pkg
rm -f huge.bin
head -c 200 "$out/serve/glintaddin.pkg" >"$out/serve/truncated.pkg"
: >"$out/serve/empty.pkg"
setsid python3 "$src/tests/windows/AddInServer.py" "$out/serve" "$out/port" "$out/server.log" \
  >/dev/null 2>&1 </dev/null &
echo $! >"$out/server.pid"
