#!/usr/bin/env bash
# Certificates, signed messages and an add-in folder with signed manifests
# for the signed data tests, made with openssl under the development roots
# (src/resources/roots, keys in tests/keys):
#   SignedDataFixture.sh OUT_DIR SOURCE_ROOT
# The output is reused while this script and the roots are unchanged.
set -euo pipefail
out=$1
src=$2
keys=$src/tests/keys
roots=$src/src/resources/roots

stamp=$(cat "$0" "$roots"/DevelopmentRoot?.der "$keys"/DevelopmentRoot?.key | sha256sum | cut -c1-64)
if [ -f "$out/.stamp" ] && [ "$(cat "$out/.stamp")" = "$stamp" ]; then
  exit 0
fi
rm -rf "$out"
mkdir -p "$out/work/new"
cd "$out/work"

# A minimal CA set-up: openssl ca is the tool that sets validity dates freely.
: >index.txt
echo 1000 >serial
cat >ca.cnf <<'EOF'
[ca]
default_ca = fixture
[fixture]
database = index.txt
new_certs_dir = new
serial = serial
default_md = sha256
policy = anything
unique_subject = no
email_in_dn = no
[anything]
commonName = supplied
organizationName = optional
organizationalUnitName = optional
[issuer]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[signer]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[self]
basicConstraints = critical, CA:TRUE
keyUsage = critical, digitalSignature, keyCertSign
subjectKeyIdentifier = hash
[req]
distinguished_name = dn
prompt = no
[dn]
EOF

valid=(-startdate 20240101000000Z -enddate 20451231235959Z)
expired=(-startdate 20200101000000Z -enddate 20210101000000Z)

for r in A B; do
  openssl x509 -inform DER -in "$roots/DevelopmentRoot$r.der" -out "root-$r.pem"
  cp "$keys/DevelopmentRoot$r.key" "root-$r.key"
  cp "$roots/DevelopmentRoot$r.der" "$out/root-$r.der"
done

newkey() { openssl genrsa -out "$1" 2048 2>/dev/null; }

# issue NAME ISSUER KIND KEY DATES... : NAME.pem (and NAME.key), signed by ISSUER
issue() {
  local name=$1 issuer=$2 kind=$3 key=$4
  shift 4
  openssl req -new -config ca.cnf -key "$key" -subj "/O=Kestrelink/CN=Glint Test $name" \
    -out "$name.csr"
  openssl ca -batch -notext -config ca.cnf -cert "$issuer.pem" -keyfile "$issuer.key" \
    -extensions "$kind" -in "$name.csr" -out "$name.pem" "$@" 2>/dev/null
  ln -sf "$key" "$name.key"
}

# Intermediates 1..9 in one line under root A, and one that has expired.
issuer=root-A
for i in 1 2 3 4 5 6 7 8 9; do
  newkey "key-issuer-$i.pem"
  issue "issuer-$i" "$issuer" issuer "key-issuer-$i.pem" "${valid[@]}"
  issuer="issuer-$i"
done
newkey key-issuer-expired.pem
issue issuer-expired root-A issuer key-issuer-expired.pem "${expired[@]}"

# Signers share one key: a signer never issues anything.
newkey key-signer.pem
issue signer-0 root-A signer key-signer.pem "${valid[@]}"
for i in 2 8 9; do issue "signer-$i" "issuer-$i" signer key-signer.pem "${valid[@]}"; done
issue signer-expired root-A signer key-signer.pem "${expired[@]}"
issue signer-under-expired issuer-expired signer key-signer.pem "${valid[@]}"
issue signer-b root-B signer key-signer.pem "${valid[@]}"
openssl req -new -x509 -config ca.cnf -key key-signer.pem -subj "/O=Kestrelink/CN=Glint Test Self" \
  -days 3650 -extensions self -out self-signed.pem
ln -sf key-signer.pem self-signed.key

# chain N: issuers N down to 1, as a message carries them
chain() {
  local n=$1 file=$2
  : >"$file"
  for ((i = n; i >= 1; i--)); do cat "issuer-$i.pem" >>"$file"; done
}
chain 2 chain-2.pem
chain 8 chain-8.pem
chain 9 chain-9.pem

# sign OUT SIGNER CERTS [openssl cms options...]
sign() {
  local output=$1 signer=$2 certs=$3 content=$4
  shift 4
  local certfile=()
  [ -n "$certs" ] && certfile=(-certfile "$certs")
  openssl cms -sign -nodetach -binary -outform DER -in "$content" -signer "$signer.pem" \
    -inkey "$signer.key" "${certfile[@]}" -out "$out/$output" "$@"
}

# The content: a recognisable text the tests find and alter inside a message.
{
  printf 'GLINT SIGNED CONTENT\r\n'
  head -c 300 /dev/zero | tr '\0' 'c'
} >content.dat
cp content.dat "$out/content.dat"
: >empty.bin

sign message-root.p7 signer-0 "" content.dat -md sha256
sign message-no-attributes.p7 signer-0 "" content.dat -md sha256 -noattr
sign message-chain-2.p7 signer-2 chain-2.pem content.dat -md sha256
sign message-chain-8.p7 signer-8 chain-8.pem content.dat -md sha256
sign message-chain-9.p7 signer-9 chain-9.pem content.dat -md sha256
sign message-chain-8-no-attributes.p7 signer-8 chain-8.pem content.dat -md sha256 -noattr
sign message-expired-signer.p7 signer-expired "" content.dat -md sha256
sign message-expired-issuer.p7 signer-under-expired issuer-expired.pem content.dat -md sha256
sign message-self-signed.p7 self-signed "" content.dat -md sha256
sign message-carries-root.p7 signer-0 root-A.pem content.dat -md sha256
sign message-root-b.p7 signer-b "" content.dat -md sha256
sign message-sha384.p7 signer-0 "" content.dat -md sha384
sign message-sha384-no-attributes.p7 signer-0 "" content.dat -md sha384 -noattr
sign message-empty.p7 signer-0 "" empty.bin -md sha256

# An add-in folder, "DemoTool", and manifests over it.
addin=$out/addin
mkdir -p "$addin/data" "$addin/lib"
head -c 200000 /dev/urandom >"$addin/DemoTool.exe"  # more than three read pieces
printf 'strings of the add-in\r\n' >"$addin/data/strings.txt"
head -c 70000 /dev/urandom >"$addin/lib/helper.dll"

digest_of() { (cd "$addin" && cat "$@") | openssl dgst -sha256 -binary | base64 -w 0; }
all=$(digest_of DemoTool.exe data/strings.txt lib/helper.dll)

# manifest NAME DIGEST-LINE-END REFERENCES... (digest text from $digest)
manifest() {
  local name=$1 ending=$2
  shift 2
  {
    printf '<?xml version="1.0" encoding="windows-1252"?>\r\n<AddInManifest>\r\n'
    for reference in "$@"; do printf '<Reference URI="%s" />\r\n' "$reference"; done
    printf '<DigestValue>%s</DigestValue>%b' "$digest" "$ending"
    printf '</AddInManifest>\r\n'
  } >"$name.txt"
}

digest=$all
manifest good '\r\n' DemoTool.exe 'data\strings.txt' 'lib\helper.dll'
manifest digest-without-cr '\n' DemoTool.exe 'data\strings.txt' 'lib\helper.dll'
manifest executable-in-other-case '\r\n' demotool.exe 'data\strings.txt' 'lib\helper.dll'
manifest missing-file '\r\n' DemoTool.exe 'data\strings.txt' 'absent.bin' 'lib\helper.dll'
manifest other-order '\r\n' 'data\strings.txt' DemoTool.exe 'lib\helper.dll'
digest=$(digest_of data/strings.txt lib/helper.dll)
manifest without-executable '\r\n' 'data\strings.txt' 'lib\helper.dll'
# "DemoTool" is no file of the folder (it adds nothing to the digest), yet
# it is a leading part of "DemoTool.exe" and so names the executable.
manifest executable-by-leading-part '\r\n' DemoTool 'data\strings.txt' 'lib\helper.dll'
digest=$(head -c 80 /dev/zero | tr '\0' 'Q')
manifest digest-too-long '\r\n' DemoTool.exe 'data\strings.txt' 'lib\helper.dll'
digest=""
manifest no-digest '\r\n' DemoTool.exe 'data\strings.txt' 'lib\helper.dll'

for m in good digest-without-cr executable-by-leading-part executable-in-other-case missing-file \
  other-order without-executable digest-too-long no-digest; do
  sign "manifest-$m.s" signer-2 chain-2.pem "$m.txt" -md sha256
done
sign manifest-good-root-b.s signer-b "" good.txt -md sha256

echo "$stamp" >"$out/.stamp"
