#!/usr/bin/env bash
# Packages, manifests and the loopback server for the add-in tests:
#   addin-fixture.sh setup|cleanup OUT_DIR SOURCE_ROOT ADDIN_EXE
# setup signs the add-in under development root A (keys in tests/keys) and
# starts AddInServer.py; cleanup stops it by its PID.
set -euo pipefail
action=$1
out=$(realpath -m "$2")
src=$3
exe=${4:+$(realpath "$4")}
case "$action" in
  cleanup)
    if [ -f "$out/server.pid" ]; then
      kill "$(cat "$out/server.pid")" 2>/dev/null || true
      rm -f "$out/server.pid"
    fi
    exit 0
    ;;
esac

rm -rf "$out"
mkdir -p "$out/serve" "$out/work"
cd "$out/work"
openssl x509 -inform DER -in "$src/src/resources/roots/DevelopmentRootA.der" -out rootA.pem
openssl req -new -newkey rsa:2048 -nodes -keyout signer.key -subj "/CN=Glint Add-in Signer" \
  -out signer.csr 2>/dev/null
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n' >signer.ext
openssl x509 -req -in signer.csr -CA rootA.pem -CAkey "$src/tests/keys/DevelopmentRootA.key" \
  -CAcreateserial -days 3650 -sha256 -extfile signer.ext -out signer.pem 2>/dev/null
# Another root's signer: verifies, but not against root A.
openssl req -x509 -newkey rsa:2048 -nodes -keyout stranger.key -subj "/CN=Stranger" -days 3650 \
  -out stranger.pem 2>/dev/null

sign() {  # sign IN OUT [signer]
  local who=${3:-signer}
  openssl cms -sign -nodetach -binary -outform DER -md sha256 -signer "$who.pem" \
    -inkey "$who.key" -in "$1" -out "$2"
}

python3 - "$exe" <<'PY'
import base64, hashlib, struct, sys, zlib
exe = open(sys.argv[1], "rb").read()
def package(payload, unpacked):
    return b"Troy" + struct.pack("<I", unpacked) + payload
open("package.bin", "wb").write(package(zlib.compress(exe), len(exe)))
# Ten bytes of content announcing 100: refused before any memory is taken.
open("oversize.bin", "wb").write(b"Troy" + struct.pack("<I", 100) + b"zz")
open("broken.bin", "wb").write(package(b"not zlib at all" * 4, 60))
# 32 MiB announcing just under ten times that: allowed by the size rule, more
# than a broker whose memory the test has limited can take.
content = 32 << 20
open("huge.bin", "wb").write(b"Troy" + struct.pack("<I", 10 * content - 1) + bytes(content - 8))
digest = base64.b64encode(hashlib.sha256(exe).digest()).decode()
lines = '<Reference URI="glintaddin.exe" />\r\n<DigestValue>%s</DigestValue>\r\n' % digest
open("manifest.txt", "w", newline="").write(lines)
PY
sign package.bin "$out/serve/glintaddin.pkg"
sign oversize.bin "$out/serve/oversize.pkg"
sign broken.bin "$out/serve/broken.pkg"
sign huge.bin "$out/serve/huge.pkg"
rm -f huge.bin
sign manifest.txt "$out/serve/glintaddin.digest"
sign package.bin "$out/serve/stranger.pkg" stranger
head -c 200 "$out/serve/glintaddin.pkg" >"$out/serve/truncated.pkg"
: >"$out/serve/empty.pkg"

setsid python3 "$src/tests/windows/AddInServer.py" "$out/serve" "$out/port" "$out/server.log" \
  >/dev/null 2>&1 </dev/null &
echo $! >"$out/server.pid"
for _ in $(seq 100); do
  [ -f "$out/port" ] && exit 0
  sleep 0.05
done
echo "addin-fixture: the server did not start" >&2
exit 1
