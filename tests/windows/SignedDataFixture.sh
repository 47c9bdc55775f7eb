#!/usr/bin/env bash
# Certificates, signed messages and an add-in folder with signed manifests made with openssl
# under the development roots; reused while unchanged: SignedDataFixture.sh OUT_DIR SOURCE_ROOT
set -euo pipefail
out=$1 keys=$2/tests/keys roots=$2/src/resources/roots
stamp=$(cat "$0" "$roots"/DevelopmentRoot?.der "$keys"/DevelopmentRoot?.key | sha256sum | cut -c1-64)
[ "$(cat "$out/.stamp" 2>/dev/null)" = "$stamp" ] && exit 0
rm -rf "$out" && mkdir -p "$out/work/new" "$out/addin/data" "$out/addin/lib" && cd "$out/work"

# A minimal CA: openssl ca is the tool that sets validity dates freely.
: >index.txt && echo 1000 >serial
ext() { printf 'basicConstraints = critical, CA:%s\nkeyUsage = critical, %s\nsubjectKeyIdentifier = hash\n%b' "$@"; }
{
  printf '%s\n' '[ca]' 'default_ca = fixture' '[fixture]' 'database = index.txt' 'new_certs_dir = new' \
    'serial = serial' 'default_md = sha256' 'policy = anything' 'unique_subject = no' '[anything]' \
    'commonName = supplied' 'organizationName = optional' '[req]' 'distinguished_name = dn' \
    'prompt = no' '[dn]'
  printf '[issuer]\n' && ext TRUE 'keyCertSign, cRLSign' 'authorityKeyIdentifier = keyid\n'
  printf '[signer]\n' && ext FALSE digitalSignature 'authorityKeyIdentifier = keyid\n'
  printf '[self]\n' && ext TRUE 'digitalSignature, keyCertSign' ''
} >ca.cnf
for r in A B; do
  openssl x509 -inform DER -in "$roots/DevelopmentRoot$r.der" -out "root-$r.pem"
  cp "$keys/DevelopmentRoot$r.key" "root-$r.key" && cp "$roots/DevelopmentRoot$r.der" "$out/root-$r.der"
done
valid="-startdate 20240101000000Z -enddate 20451231235959Z"
expired="-startdate 20200101000000Z -enddate 20210101000000Z"
# issue NAME ISSUER KIND KEY DATES: NAME.pem and NAME.key, signed by ISSUER (a new key if absent)
issue() {
  [ -f "$4" ] || openssl genrsa -out "$4" 2048 2>/dev/null
  openssl req -new -config ca.cnf -key "$4" -subj "/O=Kestrelink/CN=Glint Test $1" -out "$1.csr"
  # shellcheck disable=SC2086
  openssl ca -batch -notext -config ca.cnf -cert "$2.pem" -keyfile "$2.key" -extensions "$3" \
    -in "$1.csr" -out "$1.pem" $5 2>/dev/null
  ln -sf "$4" "$1.key"
}
# Intermediates 1..9 in one line under root A, and one that has expired;
# signers share one key (a signer never issues anything).
issuer=root-A
for i in 1 2 3 4 5 6 7 8 9; do issue "issuer-$i" $issuer issuer "key-issuer-$i.pem" "$valid"; issuer=issuer-$i; done
issue issuer-expired root-A issuer key-issuer-expired.pem "$expired"
issue signer-0 root-A signer key-signer.pem "$valid"
for i in 2 8 9; do issue "signer-$i" "issuer-$i" signer key-signer.pem "$valid"; done
issue signer-expired root-A signer key-signer.pem "$expired"
issue signer-under-expired issuer-expired signer key-signer.pem "$valid"
issue signer-b root-B signer key-signer.pem "$valid"
openssl req -new -x509 -config ca.cnf -key key-signer.pem -subj "/O=Kestrelink/CN=Glint Test Self" \
  -days 3650 -extensions self -out self-signed.pem
ln -sf key-signer.pem self-signed.key
for n in 2 8 9; do for ((i = n; i >= 1; i--)); do cat "issuer-$i.pem"; done >"chain-$n.pem"; done

# sign OUT SIGNER CERTS CONTENT [openssl cms options...] (CERTS: - for none)
sign() {
  local certs=()
  [ "$3" != - ] && certs=(-certfile "$3")
  openssl cms -sign -nodetach -binary -outform DER -in "$4" -signer "$2.pem" -inkey "$2.key" \
    "${certs[@]}" -out "$out/$1" "${@:5}" </dev/null
}
# The content: a recognisable text the tests find and alter inside a message.
{ printf 'GLINT SIGNED CONTENT\r\n' && head -c 300 /dev/zero | tr '\0' c; } >"$out/content.dat"
: >empty.bin
c=$out/content.dat
while read -r name signer certs content options; do
  # shellcheck disable=SC2086
  sign "message-$name.p7" "$signer" "$certs" "${content/content/$c}" $options
done <<'LIST'
root signer-0 - content -md sha256
no-attributes signer-0 - content -md sha256 -noattr
chain-2 signer-2 chain-2.pem content -md sha256
chain-8 signer-8 chain-8.pem content -md sha256
chain-9 signer-9 chain-9.pem content -md sha256
expired-signer signer-expired - content -md sha256
expired-issuer signer-under-expired issuer-expired.pem content -md sha256
self-signed self-signed - content -md sha256
carries-root signer-0 root-A.pem content -md sha256
root-b signer-b - content -md sha256
sha384 signer-0 - content -md sha384
sha384-no-attributes signer-0 - content -md sha384 -noattr
empty signer-0 - empty.bin -md sha256
LIST

# The add-in folder "DemoTool" (the executable spans more than three read
# pieces) and manifests over it: manifest NAME DIGEST-LINE-END REFERENCES...
addin=$out/addin
head -c 200000 /dev/urandom >"$addin/DemoTool.exe"
printf 'strings of the add-in\r\n' >"$addin/data/strings.txt"
head -c 70000 /dev/urandom >"$addin/lib/helper.dll"
digest_of() { (cd "$addin" && cat "$@") | openssl dgst -sha256 -binary | base64 -w 0; }
manifest() {
  {
    printf '<?xml version="1.0" encoding="windows-1252"?>\r\n<AddInManifest>\r\n'
    for reference in "${@:3}"; do printf '<Reference URI="%s" />\r\n' "$reference"; done
    printf '<DigestValue>%s</DigestValue>%b</AddInManifest>\r\n' "$digest" "$2"
  } >"$1.txt"
  sign "manifest-$1.s" signer-2 chain-2.pem "$1.txt" -md sha256
}
files=(DemoTool.exe 'data\strings.txt' 'lib\helper.dll')
digest=$(digest_of DemoTool.exe data/strings.txt lib/helper.dll)
manifest good '\r\n' "${files[@]}"
manifest executable-in-other-case '\r\n' demotool.exe "${files[@]:1}"
manifest missing-file '\r\n' DemoTool.exe 'data\strings.txt' absent.bin 'lib\helper.dll'
manifest other-order '\r\n' 'data\strings.txt' DemoTool.exe 'lib\helper.dll'
sign manifest-good-root-b.s signer-b - good.txt -md sha256
digest=$(digest_of data/strings.txt lib/helper.dll)
# "DemoTool" is no file of the folder (it adds nothing to the digest), yet it
# is a leading part of "DemoTool.exe" and so names the executable.
manifest executable-by-leading-part '\r\n' DemoTool "${files[@]:1}"
digest=$(head -c 80 /dev/zero | tr '\0' Q)
manifest digest-too-long '\r\n' "${files[@]}"
digest=""
manifest no-digest '\r\n' "${files[@]}"

# Shortcut authorisations under root B: for each request a strings blob that
# holds <shortcut href="URL">NAME</shortcut> (the name in code page 932 when
# the case says so) and a message whose content holds the blob's SHA-256 as
# upper-case hex. LAYOUT zero-snippet puts a zero byte before the snippet.
issue signer-b-expired root-B signer key-signer.pem "$expired"
mkdir -p "$out/shortcut"
while IFS='|' read -r id signer layout charset name url; do
  strings=$out/shortcut/$id.strings
  {
    printf 'shortcut request\r\n'
    [ "$layout" = zero-snippet ] && printf '\0'
    printf '<shortcut href="%s">%s</shortcut>\r\n' "$url" "$(printf '%s' "$name" | iconv -f UTF-8 -t "$charset")"
  } >"$strings"
  digest=$(openssl dgst -sha256 -binary "$strings" | xxd -p -c 64 | tr a-f A-F)
  printf "GLINT SHORTCUT AUTHORISATION\r\nDIGEST $digest\r\n" >"$id.content"
  sign "shortcut/$id.p7" "$signer" - "$id.content" -md sha256
done <<'LIST'
good|signer-b|plain|CP1252|Glint Demo|https://games.example.com/play/index.html
quoted|signer-b|plain|CP1252|Quoted|https://games.example.com/a%20b%22c
cjk|signer-b|plain|CP932|遊戯広場|https://games.example.com/play/index.html
cjk15|signer-b|plain|CP932|遊戯広場遊戯広場遊戯広場遊戯広|https://games.example.com/play/index.html
device-name|signer-b|plain|CP1252|CON|https://games.example.com/play/index.html
root-a|signer-0|plain|CP1252|Glint Demo|https://games.example.com/play/index.html
expired|signer-b-expired|plain|CP1252|Glint Demo|https://games.example.com/play/index.html
self-signed|self-signed|plain|CP1252|Glint Demo|https://games.example.com/play/index.html
zero-snippet|signer-b|zero-snippet|CP1252|Glint Demo|https://games.example.com/play/index.html
LIST
echo "$stamp" >"$out/.stamp"
