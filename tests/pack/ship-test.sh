#!/usr/bin/env bash
# Shipping the packed example under Wine: signed and verified, a changed byte caught, a signed
# launcher packed like a plain one, pelto-pack.exe packing the same bytes as the host tool, and
# the MSI installed and removed with its service.
# Arguments: HOST_PACK WINDOWS_PACK LAUNCHER PACKED_EXAMPLE WORK [RELEASE_PACK]
set -euo pipefail
pack=$1 winpack=$2 launcher=$3 example=$4 work=$5
release=${6:-}
[ -x "$release" ] || release=$pack  # build/dist/pelto-pack, when the dist preset was built
src=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work" && mkdir -p "$work" && cd "$work"
fail() { echo "ship-test: $*" >&2; exit 1; }
winpath() { echo "Z:${1//\//\\}"; }

# A self-signed code-signing certificate, made here.
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=pelto test" \
  -addext "extendedKeyUsage=codeSigning" 2>/dev/null
osslsigncode sign -certs cert.pem -key key.pem -in "$example" -out signed.exe >/dev/null
osslsigncode verify -CAfile cert.pem -in signed.exe >verify.txt 2>&1 || fail "signed example does not verify"
# The checksum the pack tool wrote is the one osslsigncode calculates.
osslsigncode verify -in "$example" 2>&1 | grep -qi "invalid PE checksum" && fail "wrong PE checksum in $example"
"$pack" dump signed.exe | grep -q 'product-name = "Hello Service"' || fail "dump of the signed example"
WINEPATH="$(winpath "$(dirname "$launcher")")" wine signed.exe /help >help.txt 2>&1 || fail "signed example: $(cat help.txt)"
grep -q "Usage: signed.exe" help.txt || fail "signed example printed $(cat help.txt)"
# A byte of the block changed: the digest no longer matches.
cp signed.exe tampered.exe
at=$(( $(stat -c %s "$example") - 64 ))
printf '\x5a' | dd of=tampered.exe bs=1 seek="$at" conv=notrunc status=none
if osslsigncode verify -CAfile cert.pem -in tampered.exe >/dev/null 2>&1; then fail "a changed block still verifies"; fi

# A signed launcher loses its signature before it is packed.
osslsigncode sign -certs cert.pem -key key.pem -in "$launcher" -out signed-launcher.exe >/dev/null
cp "$(dirname "$launcher")/pelto-runtime.jar" .
"$pack" build "$src/examples/hello-service.toml" -o from-signed.exe --launcher signed-launcher.exe
"$release" build "$src/examples/hello-service.toml" -o from-plain.exe --launcher "$launcher"
cmp -s from-signed.exe from-plain.exe || fail "a signed launcher packs differently"

# pelto-pack.exe under Wine packs the same bytes.
wine "$winpack" build "$(winpath "$src/examples/hello-service.toml")" -o "$(winpath "$work/windows.exe")" \
  --launcher "$(winpath "$launcher")" >winpack.txt 2>&1 || fail "pelto-pack.exe: $(cat winpack.txt)"
cmp -s windows.exe from-plain.exe || fail "pelto-pack.exe packs other bytes than $release"

# The MSI lays the files out and registers the service through /install; removing it undoes both.
"$pack" msi "$src/examples/hello-service.toml" --exe from-plain.exe -o hello.msi >msi.txt 2>&1 || fail "msi: $(cat msi.txt)"
key='HKLM\System\CurrentControlSet\Services\HelloService'
dir="$WINEPREFIX/drive_c/Program Files/Hello Service"
# What an aborted earlier run left installed goes first, so that this run starts from nothing.
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
  awk '/^HKEY/ {key = $0} /DisplayName[ \t]+REG_SZ[ \t]+Hello Service$/ {n = split(key, p, "\\"); print p[n]}' |
  while read -r product; do wine msiexec /x "$product" /qn </dev/null >/dev/null 2>&1 || true; done
wine reg delete "$key" /f >/dev/null 2>&1 || true
wine msiexec /i "$(winpath "$work/hello.msi")" /qn >install.txt 2>&1 || fail "msiexec /i: $(cat install.txt)"
[ -f "$dir/from-plain.exe" ] && [ -f "$dir/hello-readme.txt" ] || fail "not laid out: $(ls -R "$dir" 2>&1)"
wine reg query "$key" /v ImagePath 2>/dev/null | grep -qi 'Hello Service\\from-plain.exe' || fail "service not registered"
# The installed service runs: given a runtime of the test doubles beside it, the manager starts it
# from the registration /install made and stops it on request.
doubles=$(dirname "$launcher")/tests/doubles
mkdir -p "$dir/jre/bin/server" "$dir/lib"
cp "$doubles/java/java.exe" "$dir/jre/bin/" && cp "$doubles/jvm/jvm.dll" "$dir/jre/bin/server/"
printf '0\nopenjdk version "17.0.2" 2022-01-18\n' >"$dir/jre/bin/java-double.txt"
printf 'method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\nmain stdin 0\nrecord %s\n' \
  "$(winpath "$work/installed-record.jsonl")" >"$dir/jre/bin/server/jvm-double.txt"
echo placeholder >"$dir/lib/hello-service.jar"
installed=$(winpath "$dir/from-plain.exe")
wine "$installed" /start >start.txt 2>&1 || fail "installed service: $(cat start.txt)"
for _ in $(seq 50); do grep -q '"event":"main"' installed-record.jsonl 2>/dev/null && break; sleep 0.2; done
grep -q '"event":"main"' installed-record.jsonl 2>/dev/null || fail "installed service ran no main: $(cat start.txt)"
wine "$installed" /status >status.txt 2>&1 || fail "installed service not running: $(cat status.txt)"
wine "$installed" /stop >stop.txt 2>&1 || fail "installed service did not stop: $(cat stop.txt)"
grep -q '"stdinDone","matched":true' installed-record.jsonl || fail "no stop line reached the installed service"
rm -rf "$dir/jre" "$dir/lib"  # not the MSI's to remove
# A newer version with the same upgrade code takes the place of the installed one.
mkdir up && cp "$src/examples/hello.ico" "$src/examples/hello-readme.txt" up/
sed 's/^product-version = "1.2.3"/product-version = "1.2.4"/' "$src/examples/hello-service.toml" >up/hello-service.toml
"$pack" msi up/hello-service.toml --exe from-plain.exe -o up/hello.msi >msi.txt 2>&1 || fail "msi 1.2.4: $(cat msi.txt)"
wine msiexec /i "$(winpath "$work/up/hello.msi")" /qn >upgrade.txt 2>&1 || fail "upgrade: $(cat upgrade.txt)"
versions=$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | grep -o "DisplayVersion.*1\.2\.[34]" | tr -s ' ' || true)
[ "$versions" = "$(printf 'DisplayVersion REG_SZ 1.2.4')" ] || fail "after the upgrade: $versions"
wine reg query "$key" /v ImagePath >/dev/null 2>&1 || fail "service gone after the upgrade"
wine msiexec /x "$(winpath "$work/up/hello.msi")" /qn >remove.txt 2>&1 || fail "msiexec /x: $(cat remove.txt)"
[ ! -e "$dir/from-plain.exe" ] || fail "files left after removal"
if wine reg query "$key" >/dev/null 2>&1; then fail "service left after removal"; fi
echo "ship-test: passed"
