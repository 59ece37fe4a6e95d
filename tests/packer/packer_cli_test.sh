#!/usr/bin/env bash
# End-to-end test of msilaunch-pack on real inputs made here: MSIs from wixl
# (x86 and x64, English and German, external cabinets cut out of wixl's
# embedded one with msidump/msibuild, one cabinet shared by two packages),
# a PE32 stub from MinGW signed by osslsigncode with a throwaway certificate.
# The packer is any build of it that runs here as one command: the Linux one,
# or the Windows one under Wine (tests/packer/wine-pack, with
# MSILAUNCH_PACKER_UNDER_WINE set). With REFERENCE,
# another build, that build must make every payload and setup made here
# byte for byte.
#   usage: packer_cli_test.sh PATH/TO/msilaunch-pack WORK-DIR [REFERENCE]
set -uo pipefail

pack=$1
work=$2
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
reference=${3:-}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

# PACKER_CLI_CASE=TEXT: only the cases whose description holds TEXT are
# checked. Every expect still runs, as its output may be a later case's
# input; rejects that are not chosen are skipped.
failures=0
current=""
chosen() { [ -z "${PACKER_CLI_CASE:-}" ] || [[ $1 == *"$PACKER_CLI_CASE"* ]]; }
fail() { chosen "$current" || return 0; echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# expect CODE DESCRIPTION -- COMMAND...: runs COMMAND, checks its exit code.
expect() {
  local want=$1 what=$2; shift 3
  current=$what
  "$@" >out.txt 2>err.txt
  local got=$?
  [ "$got" = "$want" ] || fail "$what: exit $got, wanted $want ($(head -c 300 err.txt))"
}
# rejects DESCRIPTION OUTPUT -- COMMAND...: a clear one-line error naming the
# problem, a non-zero exit and no output file (nor a temporary one) left.
rejects() {
  local what=$1 output=$2 needle=$3; shift 4
  current=$what
  chosen "$what" || return 0
  rm -f "$output"
  "$@" >out.txt 2>err.txt
  local got=$?
  [ "$got" != 0 ] || fail "$what: succeeded"
  grep -q -- "$needle" err.txt || fail "$what: error does not mention '$needle': $(cat err.txt)"
  [ "$(grep -c '^msilaunch-pack: ' err.txt)" -ge 1 ] || fail "$what: no error line"
  [ ! -e "$output" ] || fail "$what: left $output behind"
  ! ls -a "$(dirname "$output")" | grep -q "^\.$(basename "$output")\." || fail "$what: left a temporary file"
}

# --- MSI packages -----------------------------------------------------------
mkdir -p src && head -c 300000 /dev/urandom >src/app.bin && seq 1 20000 >src/readme.txt
make_wxs() {  # make_wxs NAME PRODUCTCODE PLATFORM LANGUAGE
  local programs=ProgramFilesFolder win64=no
  [ "$3" = x64 ] && programs=ProgramFiles64Folder win64=yes
  cat >"$1.wxs" <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$2" Name="Demo App $1" Language="$4" Version="1.0.0" Manufacturer="Test"
           UpgradeCode="{6A3F5C4E-9A64-4C1D-8E4B-2B7C1A0E5F11}">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="data1.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="$programs"><Directory Id="INSTALLDIR" Name="Demo">
        <Component Id="C1" Guid="{0C0A8D34-5E1B-4E5A-9C62-7F4E3B2D1A00}" Win64="$win64">
          <File Id="F1" Source="src/app.bin"/><File Id="F2" Source="src/readme.txt"/>
        </Component>
      </Directory></Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="C1"/></Feature>
  </Product>
</Wix>
WXS
}
# wixl writes language 1033 into the Template whatever the package's, so
# the Template is set afterwards.
build_msi() {  # build_msi NAME PRODUCTCODE PLATFORM LANGUAGE TEMPLATE
  make_wxs "$1" "$2" "$3" "$4"
  wixl -a "$3" -o "$1.msi" "$1.wxs" 2>/dev/null || { echo "wixl failed for $1" >&2; exit 1; }
  msibuild "$1.msi" -s "Demo App $1" Test "$5" "$2" || exit 1
}
# Moves the embedded cabinet out: the Media table then names data1.cab,
# found beside the database.
externalize_cab() {  # externalize_cab NAME DIR
  mkdir -p "dump-$1" && msidump -s -d "dump-$1" "$1.msi" >/dev/null || exit 1
  msibuild "$1.msi" -q "UPDATE Media SET Cabinet='data1.cab' WHERE DiskId=1" || exit 1
  mkdir -p "$2" && mv "$1.msi" "$2/" && cp "dump-$1/_Streams/data1.cab" "$2/data1.cab"
}
codeX86="{A0000000-0000-4000-8000-000000000001}"
codeDe="{A0000000-0000-4000-8000-000000000002}"
codeEn="{A0000000-0000-4000-8000-000000000003}"
build_msi x86 "$codeX86" x86 1033 "Intel;1033"
build_msi de "$codeDe" x64 1031 "x64;1031"
build_msi en "$codeEn" x64 1033 "x64;1033,2057"
externalize_cab de de-dir
externalize_cab en en-dir
# The English package uses the German package's cabinet bytes: shared.
cp de-dir/data1.cab en-dir/data1.cab

# --- keygen and pack --------------------------------------------------------
expect 0 "keygen" -- "$pack" keygen -o key.pem
[ -f key.pub.pem ] || fail "keygen wrote no key.pub.pem"
openssl pkey -pubin -in key.pub.pem -noout -text | grep -q "Public-Key: (2048 bit)" || fail "public key is not RSA-2048"
# On Windows the key gets a DACL that allows the user alone, which Wine
# shows as the user's and the group's bits.
[ "$(stat -c %a key.pem)" = "$([ -n "${MSILAUNCH_PACKER_UNDER_WINE:-}" ] && echo 750 || echo 600)" ] ||
  fail "private key is readable by others: $(stat -c %a key.pem)"

expect 0 "pack" -- "$pack" pack -k key.pem -o payload.bin x86.msi de-dir/de.msi --name "Demo App (English)" en-dir/en.msi
expect 0 "pack again" -- "$pack" pack -k key.pem -o payload2.bin x86.msi de-dir/de.msi --name "Demo App (English)" en-dir/en.msi
cmp -s payload.bin payload2.bin || fail "the same inputs gave different payloads"

expect 0 "inspect --json" -- "$pack" inspect payload.bin --key key.pub.pem --json
python3 -m json.tool out.txt >/dev/null || fail "inspect --json is not JSON"
python3 - "$codeX86" "$codeDe" "$codeEn" <<'PY' || fail "inspect --json does not show what was packed"
import json, sys
x86, de, en = sys.argv[1:]
doc = json.load(open("out.txt"))
assert doc["carrier"] == "stack" and doc["verified"] is True and doc["problems"] == [], doc
entries = doc["payloads"][0]["entries"]
packages = [(e["id"], e["architecture"], e["lcids"], e["productCode"], e["productName"])
            for e in entries if e["kind"] == "package"]
assert packages == [(1, "Intel", "1033", x86, "Demo App x86"),
                    (2, "x64", "1031", de, "Demo App de"),
                    (3, "x64", "1033;2057", en, "Demo App (English)")], packages
cabs = [(e["id"], e["packages"], e["fileName"]) for e in entries if e["kind"] == "cab"]
assert cabs == [(4, [2, 3], "data1.cab")], cabs
records = doc["payloads"][0]["records"]
assert [(r["type"], r["id"]) for r in records] == [("manifest", 0), ("file", 1), ("file", 2), ("file", 3), ("file", 4)]
assert all(r["verified"] is True and r["decodedSize"] > 0 for r in records), records
PY

expect 0 "verify" -- "$pack" verify payload.bin --key key.pub.pem
# Without --key the manifest must verify with the built-in key, as in the
# launcher; this payload's key is another.
expect 3 "inspect without key" -- "$pack" inspect payload.bin
grep -q "does not verify with the built-in key (pass --key)" err.txt || fail "inspect without key: $(cat err.txt)"

# --- extract ----------------------------------------------------------------
expect 0 "extract" -- "$pack" extract payload.bin --key key.pub.pem -o extracted
cmp -s extracted/1/main.msi x86.msi || fail "package 1's main.msi differs"
cmp -s extracted/2/main.msi de-dir/de.msi || fail "package 2's main.msi differs"
cmp -s extracted/3/main.msi en-dir/en.msi || fail "package 3's main.msi differs"
cmp -s extracted/2/data1.cab de-dir/data1.cab || fail "package 2's cabinet differs"
cmp -s extracted/3/data1.cab en-dir/data1.cab || fail "package 3's cabinet differs"
[ ! -e extracted/1/data1.cab ] || fail "package 1 (embedded cabinet) got an external one"
expect 0 "extract one package" -- "$pack" extract payload.bin --key key.pub.pem -o one --package 3
[ "$(ls one)" = 3 ] || fail "extract --package 3 wrote $(ls one)"

# --- what the database says, read alike by every packer ---------------------
# A non-ASCII ProductName in the neutral code page (wixl's), in 1252 and in
# UTF-8, and Media rows stored out of DiskId order under names in yet
# another order.
code_page_msi() {  # code_page_msi CODEPAGE NAME: cpCODEPAGE.msi named NAME
  make_wxs cp$1 "$codeX86" x86 1033
  wixl -o cp$1.msi cp$1.wxs 2>/dev/null || { echo "wixl failed for cp$1" >&2; exit 1; }
  if [ "$1" != 0 ]; then
    printf '\r\n\r\n%s\t_ForceCodepage\r\n' "$1" >_ForceCodepage.idt
    msibuild cp$1.msi -i _ForceCodepage.idt || exit 1
  fi
  msibuild cp$1.msi -q "UPDATE \`Property\` SET \`Value\`='$2' WHERE \`Property\`='ProductName'" || exit 1
}
for cp in 0 1252 65001; do code_page_msi $cp "Démo Äpp $cp"; done
mkdir -p media && cp cp1252.msi media/media.msi
for row in "5 alpha" "3 zulu" "-2 mike"; do
  read -r disk cab <<<"$row"
  msibuild media/media.msi -q "INSERT INTO \`Media\` (\`DiskId\`, \`LastSequence\`, \`Cabinet\`) VALUES ($disk, 2, '$cab.cab')" ||
    exit 1
  echo "$cab" >"media/$cab.cab"
done
# msibuild stores rows in key order; swapping the first and last DiskId in
# the stored column (int16s with the sign bit flipped: -2, 1, 3, 5) makes
# the stored order differ from the DiskId order.
python3 - <<'PY' || fail "cannot reorder the Media rows"
b = bytearray(open("media/media.msi", "rb").read())
disks = bytes.fromhex("fe7f018003800580")
at = b.find(disks)
assert at > 0 and b.find(disks, at + 1) < 0
b[at:at + 8] = bytes.fromhex("058001800380fe7f")
open("media/media.msi", "wb").write(b)
PY
expect 0 "pack code pages and Media order" -- "$pack" pack -k key.pem -o pages.bin cp0.msi cp1252.msi cp65001.msi media/media.msi
expect 0 "inspect code pages and Media order" -- "$pack" inspect pages.bin --key key.pub.pem --json
# The Windows packer prints names in the console's code page, so its names
# are checked as bytes against the reference's payload (below) instead.
python3 - "${MSILAUNCH_PACKER_UNDER_WINE:-}" <<'PY' || fail "inspect does not show the names and cabinets the databases hold"
import json, sys
entries = json.load(open("out.txt"))["payloads"][0]["entries"]
names = [e["productName"] for e in entries if e["kind"] == "package"]
assert sys.argv[1] or names == ["Démo Äpp 0", "Démo Äpp 1252", "Démo Äpp 65001", "Démo Äpp 1252"], names
cabs = [e["fileName"] for e in entries if e["kind"] == "cab"]
assert cabs == ["alpha.cab", "zulu.cab", "mike.cab"], cabs
PY
# The Linux packer converts only the code pages it carries tables for; the
# Windows one asks the system, which knows them all.
if [ -z "${MSILAUNCH_PACKER_UNDER_WINE:-}" ]; then
  code_page_msi 932 "デモ"
  rejects "a name in code page 932" bad.bin "code page 932 .*(use --name)" -- "$pack" pack -k key.pem -o bad.bin cp932.msi
  expect 0 "a name in code page 932 given with --name" -- "$pack" pack -k key.pem -o cp932.bin --name Demo cp932.msi
fi

# --- attach -----------------------------------------------------------------
printf 'int main(void) { return 0; }\n' >stub.c
i686-w64-mingw32-gcc -O2 -s -o stub.exe stub.c || exit 1
openssl req -x509 -newkey rsa:2048 -nodes -keyout cert.key -out cert.crt -days 2 -subj /CN=msilaunch-test 2>/dev/null || exit 1
osslsigncode sign -certs cert.crt -key cert.key -in stub.exe -out signed.exe >/dev/null || exit 1
digest() { osslsigncode verify -in "$1" -CAfile cert.crt 2>&1 | grep 'Current message digest' | head -1; }
signedDigest=$(digest signed.exe)
[ -n "$signedDigest" ] || fail "osslsigncode shows no digest for the signed stub"

for carrier in certificate tail; do
  expect 0 "attach $carrier to a signed stub" -- "$pack" attach --stub signed.exe --payload payload.bin --carrier $carrier -o setup-$carrier.exe
  "$pack" attach --stub signed.exe --payload payload.bin --carrier $carrier -o again.exe 2>/dev/null
  cmp -s setup-$carrier.exe again.exe || fail "attach $carrier twice gave different files"
  [ $carrier = certificate ] || grep -q EnableCertPaddingCheck err.txt || fail "attach tail to a signed stub does not warn"
  osslsigncode verify -in setup-$carrier.exe -CAfile cert.crt >verify.txt 2>&1 || fail "signature broken by attach $carrier"
  [ "$(digest setup-$carrier.exe)" = "$signedDigest" ] || fail "attach $carrier changed the message digest"
  expect 0 "inspect setup-$carrier.exe" -- "$pack" inspect setup-$carrier.exe --key key.pub.pem --json
  python3 -c "import json,sys; d=json.load(open('out.txt')); assert d['carrier']=='$carrier' and d['verified'], d" ||
    fail "the carriers do not find the $carrier payload"
  expect 0 "verify setup-$carrier.exe" -- "$pack" verify setup-$carrier.exe --key key.pub.pem
done
expect 0 "attach tail to an unsigned stub" -- "$pack" attach --stub stub.exe --payload payload.bin --carrier tail -o setup-unsigned.exe
expect 0 "verify setup-unsigned.exe" -- "$pack" verify setup-unsigned.exe --key key.pub.pem
expect 0 "extract from setup-certificate.exe" -- "$pack" extract setup-certificate.exe --key key.pub.pem -o from-exe
# The x86-64 build of the launcher reads only the tail of its PE32+ file: an
# unsigned PE32+ stub takes the payload there, a signed one cannot take it.
x86_64-w64-mingw32-gcc -O2 -s -o stub64.exe stub.c || exit 1
expect 0 "attach tail to a PE32+ stub" -- "$pack" attach --stub stub64.exe --payload payload.bin --carrier tail -o setup64.exe
grep -q "PE32+ (x86-64) stub" err.txt || fail "attach to a PE32+ stub does not warn: $(cat err.txt)"
# The stub followed by the payload, its PE checksum (the 4 bytes at e_lfanew + 88) made anew.
checksum_at=$(($(od -An -tu4 -j60 -N4 stub64.exe) + 88))
[ "$(cmp -l setup64.exe <(cat stub64.exe payload.bin) | awk -v at=$checksum_at '$1 <= at || $1 > at + 4' | wc -l)" = 0 ] &&
  [ "$(stat -c %s setup64.exe)" = $(($(stat -c %s stub64.exe) + $(stat -c %s payload.bin))) ] ||
  fail "setup64.exe is not the PE32+ stub followed by the payload"
expect 0 "inspect setup64.exe" -- "$pack" inspect setup64.exe --key key.pub.pem --json
python3 -c "import json; d=json.load(open('out.txt')); assert d['carrier']=='tail' and d['verified'], d" ||
  fail "the carriers do not find the tail payload of a PE32+ file"
osslsigncode sign -certs cert.crt -key cert.key -in stub64.exe -out signed64.exe >/dev/null || exit 1
rejects "signed PE32+ stub" bad.exe "signed PE32+ stub cannot take a payload" -- "$pack" attach --stub signed64.exe --payload payload.bin --carrier tail -o bad.exe
rejects "PE32+ stub, certificate carrier" bad.exe "takes only --carrier tail" -- "$pack" attach --stub stub64.exe --payload payload.bin --carrier certificate -o bad.exe
cmp -s from-exe/2/data1.cab de-dir/data1.cab || fail "cabinet extracted from the executable differs"

# --- tampering --------------------------------------------------------------
tamper() {  # tamper FILE OFFSET: flips the byte at OFFSET
  python3 -c "import sys; p, o = sys.argv[1], int(sys.argv[2]); b = bytearray(open(p, 'rb').read()); b[o] ^= 0x55; open(p, 'wb').write(b)" "$1" "$2"
}
size=$(stat -c %s payload.bin)
cp payload.bin tampered-file.bin && tamper tampered-file.bin $((size / 2))
expect 3 "verify a tampered file record" -- "$pack" verify tampered-file.bin --key key.pub.pem
grep -q "tampered-file.bin: payload 0 record [0-9]*: \(signature does not verify\|data does not decompress\)" err.txt ||
  fail "tampered record: unclear message: $(cat err.txt)"
cp payload.bin tampered-manifest.bin && tamper tampered-manifest.bin 20
expect 3 "verify a tampered manifest" -- "$pack" verify tampered-manifest.bin --key key.pub.pem
grep -q "manifest" err.txt || fail "tampered manifest: unclear message: $(cat err.txt)"
"$pack" keygen -o other.pem >/dev/null
expect 3 "verify with another key" -- "$pack" verify payload.bin --key other.pub.pem
grep -q "does not verify with the given key" err.txt || fail "wrong key: unclear message: $(cat err.txt)"

# --- bad input --------------------------------------------------------------
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out rsa1024.pem 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.pem 2>/dev/null
echo "not a PE file at all, only text that is long enough to look at...................." >text.exe
cp stub.exe pe32plus.exe
python3 - <<'PY'
b = bytearray(open("pe32plus.exe", "rb").read())
pe = int.from_bytes(b[0x3C:0x40], "little")
b[pe + 24:pe + 26] = (0x20B).to_bytes(2, "little")
open("pe32plus.exe", "wb").write(b)
PY
rejects "missing package" bad.bin "missing.msi" -- "$pack" pack -k key.pem -o bad.bin missing.msi
rejects "non-MSI package" bad.bin "x86.wxs: not a Windows Installer database" -- "$pack" pack -k key.pem -o bad.bin x86.wxs
rejects "missing cabinet" bad.bin "data1.cab" -- "$pack" pack -k key.pem -o bad.bin --cab nowhere/data1.cab x86.msi
rejects "RSA-1024 key" bad.bin "not an RSA-2048 key" -- "$pack" pack -k rsa1024.pem -o bad.bin x86.msi
rejects "EC key" bad.bin "not an RSA-2048 key" -- "$pack" pack -k ec.pem -o bad.bin x86.msi
mkdir -p trap && cp x86.msi trap/MAIN.MSI
rejects "cabinet that would replace main.msi" bad.bin "not a plain file name" -- "$pack" pack -k key.pem -o bad.bin --cab trap/MAIN.MSI x86.msi
mkdir -p case && cp de-dir/data1.cab case/Disk1.cab && cp de-dir/data1.cab case/disk1.cab
rejects "cabinets one letter case apart" bad.bin '"Disk1.cab" and "disk1.cab" are one file' -- \
  "$pack" pack -k key.pem -o bad.bin --cab case/Disk1.cab --cab case/disk1.cab de-dir/de.msi
# The short name Wine gives "longcabinetname.cab" is "LONG~UM1.CAB": one file;
# a 220-byte name fits no folder the launcher could use.
mkdir -p alias && cp de-dir/data1.cab alias/longcabinetname.cab && cp de-dir/data1.cab alias/LONG~UM1.CAB
cp de-dir/data1.cab "alias/$(printf 'n%.0s' $(seq 216)).cab"
rejects "a cabinet in short-name form" bad.bin '"LONG~UM1.CAB" is not a plain file name' -- \
  "$pack" pack -k key.pem -o bad.bin --cab alias/longcabinetname.cab --cab alias/LONG~UM1.CAB de-dir/de.msi
rejects "a cabinet name that fits no folder" bad.bin "at most 217 bytes" -- \
  "$pack" pack -k key.pem -o bad.bin --cab "alias/$(printf 'n%.0s' $(seq 216)).cab" de-dir/de.msi
# An encrypted copy of key.pem must give the same payload as key.pem; stdin
# is no terminal, so nothing is asked. Each row: exit code, environment,
# options, message.
openssl pkey -in key.pem -aes256 -passout pass:sesame -out encrypted.pem && printf 'sesame\r\n' >pass.txt &&
  echo wrong >wrong.txt && "$pack" pack -k key.pem -o plain.bin x86.msi 2>/dev/null || exit 1
while IFS='|' read -r want environment option needle; do
  current="encrypted key $environment $option"
  rm -f decrypted.bin
  env $environment "$pack" pack -k encrypted.pem $option -o decrypted.bin x86.msi </dev/null >out.txt 2>err.txt
  got=$?
  [ "$got" = "$want" ] && grep -q -- "$needle" err.txt || fail "$current: exit $got, $(cat err.txt)"
  if [ "$want" = 0 ]; then cmp -s decrypted.bin plain.bin || fail "$current: another payload"
  else [ ! -e decrypted.bin ] || fail "$current: left decrypted.bin behind"; fi
done <<'ROWS'
0||--passphrase-file pass.txt|no package for 64-bit
0|MSILAUNCH_PACK_PASSPHRASE=sesame||no package for 64-bit
1|||encrypted.pem is encrypted: give its passphrase with pack --passphrase-file FILE or in the environment variable MSILAUNCH_PACK_PASSPHRASE
1||--passphrase-file wrong.txt|wrong passphrase for encrypted.pem (from --passphrase-file wrong.txt)
1|MSILAUNCH_PACK_PASSPHRASE=sesame|--passphrase-file missing.txt|passphrase cannot be read: cannot open missing.txt
ROWS
current="encrypted key for verify"
MSILAUNCH_PACK_PASSPHRASE=wrong "$pack" verify plain.bin --key encrypted.pem </dev/null >out.txt 2>err.txt
[ $? = 1 ] && grep -q "wrong passphrase for encrypted.pem (from MSILAUNCH_PACK_PASSPHRASE)" err.txt || fail "$current: $(cat err.txt)"
rejects "backslash in the name" bad.bin "product name" -- "$pack" pack -k key.pem -o bad.bin --name 'a\b' x86.msi
rejects "stub not PE" bad.exe "text.exe: not a PE32 executable" -- "$pack" attach --stub text.exe --payload payload.bin --carrier tail -o bad.exe
rejects "stub PE32+" bad.exe "pe32plus.exe: not a PE32 executable" -- "$pack" attach --stub pe32plus.exe --payload payload.bin --carrier certificate -o bad.exe
rejects "certificate carrier, unsigned stub" bad.exe "needs a signed stub" -- "$pack" attach --stub stub.exe --payload payload.bin --carrier certificate -o bad.exe
rejects "payload that is not one" bad.exe "not a payload" -- "$pack" attach --stub stub.exe --payload x86.msi --carrier tail -o bad.exe
# A failed pack leaves an existing output as it was.
echo previous >kept.bin
"$pack" pack -k key.pem -o kept.bin missing.msi 2>/dev/null && fail "pack of a missing package succeeded"
[ "$(cat kept.bin)" = previous ] || fail "a failed pack changed the existing output"

# --- progress ---------------------------------------------------------------
# A bar on a terminal for inputs over a few MiB; nothing on a pipe.
mkdir -p big && cp de-dir/de.msi big/ && head -c $((6 << 20)) /dev/urandom >big/data1.cab
"$pack" pack -k key.pem -o big.bin big/de.msi >out.txt 2>err.txt || fail "pack of a big package"
# Nothing but the two warnings a lone x64 German package earns.
[ ! -s out.txt ] && [ "$(grep -c '^msilaunch-pack: warning: big.bin: no ' err.txt)" = 2 ] &&
  ! grep -qv '^msilaunch-pack: warning: big.bin: no ' err.txt || fail "pack on a pipe printed something: $(cat err.txt)"
if command -v script >/dev/null; then
  script -qec "\"$pack\" pack -k key.pem -o big.bin big/de.msi" /dev/null >tty.txt 2>&1 || fail "pack on a terminal"
  # Wine's console redraws a line through cursor moves: read them as text.
  perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[0-9;?]*[A-Za-z]//g' tty.txt | grep -q "packing \[#*\.*\] *[0-9]*%" ||
    fail "no progress bar on a terminal: $(head -c 200 tty.txt)"
fi

# --- key slot ---------------------------------------------------------------
# Stubs with the launcher's own (empty) slot definition; one with a second
# marker; one cut short by a byte; and one signed. Each row: exit code, stub, key, option, message.
cat >slot.cpp <<'CPP'
#include "payload/payload_key.h"
#ifdef V1
// A launcher built before bindings: its slot ends after the modulus.
extern const uint8_t kOldSlot[kKeySlotVersion1Size] __attribute__((used)) = {MSILAUNCH_KEY_SLOT_MARKER, 1};
#else
extern const uint8_t kPayloadKeySlot[kKeySlotSize] __attribute__((used)) = {MSILAUNCH_KEY_SLOT_HEAD};
#endif
#ifdef TWICE
extern const uint8_t kSecond[kKeySlotSize] __attribute__((used)) = {MSILAUNCH_KEY_SLOT_HEAD};
#endif
int main() { return 0; }
CPP
for variant in slot: twice:-DTWICE v1:-DV1; do
  i686-w64-mingw32-g++ -O2 -s ${variant#*:} -I"$src" -o ${variant%%:*}.exe slot.cpp || exit 1
done
osslsigncode sign -certs cert.crt -key cert.key -in slot.exe -out signed-slot.exe >/dev/null || exit 1
head -c $(($(stat -c %s slot.exe) - 1)) slot.exe >cut.exe
fingerprint=$(openssl pkey -pubin -in key.pub.pem -outform DER | sha256sum | cut -d' ' -f1)
while IFS='|' read -r want stub key option needle; do
  "$pack" set-key --stub $stub --key $key -o stamped-next.exe $option >out.txt 2>err.txt
  got=$?
  [ "$got" = "$want" ] && grep -q -- "$needle" out.txt err.txt || fail "set-key $stub $key $option: exit $got, $(cat out.txt err.txt)"
  [ "$got" != 0 ] || mv stamped-next.exe stamped.exe
done <<'ROWS'
0|slot.exe|key.pub.pem||stamped
0|stamped.exe|key.pub.pem||already there, the stub unchanged
1|stamped.exe|other.pub.pem||holds another key
0|stamped.exe|other.pub.pem|--replace|stamped over another key
0|stamped.exe|key.pub.pem|--replace|stamped over another key
1|signed-slot.exe|key.pub.pem||the stub is signed
1|stub.exe|key.pub.pem||no key slot
1|twice.exe|key.pub.pem||occurs more than once
1|cut.exe|key.pub.pem||cut short
ROWS
expect 0 "inspect a stamped stub" -- "$pack" inspect stamped.exe
grep -q "^key slot: stamped, key sha256 $fingerprint" out.txt || fail "inspect does not show openssl's fingerprint: $(cat out.txt)"
"$pack" keygen -o fp.pem >out.txt && grep -q "sha256 $(openssl pkey -pubin -in fp.pub.pem -outform DER | sha256sum | cut -c1-64)" out.txt ||
  fail "keygen prints another fingerprint than openssl: $(cat out.txt)"
# attach --key stamps; a stub whose key would refuse the payload is refused,
# and so is an empty one; the launcher's key then decides verify. A setup
# with an empty slot can still be made by hand, and verify names it.
expect 0 "attach --key" -- "$pack" attach --stub slot.exe --payload payload.bin --carrier tail -o setup-keyed.exe --key key.pub.pem
expect 0 "verify a keyed setup" -- "$pack" verify setup-keyed.exe --key key.pub.pem
rejects "a payload the slot's key refuses" bad.exe "does not verify with the key in" -- "$pack" attach --stub stamped.exe --payload payload.bin --carrier tail -o bad.exe --key other.pub.pem --replace
rejects "attach to an empty slot" setup-empty.exe "key slot is empty" -- "$pack" attach --stub slot.exe --payload payload.bin --carrier tail -o setup-empty.exe
cat slot.exe payload.bin >setup-empty.exe
expect 3 "verify an empty slot" -- "$pack" verify setup-empty.exe --key key.pub.pem
grep -q "key slot is empty" err.txt || fail "verify does not name the empty slot: $(cat err.txt)"

# --- brand ------------------------------------------------------------------
# A stub with the launcher's own resources and key slot; what brand wrote is
# read back with icoutils and by hand, not by the packer's reader.
i686-w64-mingw32-windres -I"$src/resources" "$src/resources/msilaunch.rc" -O coff -o rsrc.o &&
  i686-w64-mingw32-g++ -O2 -s -I"$src" -o rstub.exe slot.cpp rsrc.o || exit 1
# icotool exits 1 over app.ico's PNG image, which it takes for a bitmap.
icotool -x -i 1 -o icon-a.png "$src/resources/app.ico" 2>/dev/null; icotool -x -i 3 -o icon-b.png "$src/resources/app.ico" 2>/dev/null
icotool -c -o vendor.ico icon-a.png icon-b.png || exit 1
cp "$src"/resources/messages/*.txt . && sed '/^102=/d' de-DE.txt >short.txt && cp de-DE.txt extra.txt &&
  echo "103=x" >>extra.txt || exit 1
brand_args=(--icon vendor.ico --company "Vendør Inc." --product-name Demo --product-version 2.1 --file-version 2.1.3.4
            --description "Demo setup" --copyright "© 2026" --original-name setup.exe
            --messages de-DE=de-DE.txt --messages 1036=fr-FR.txt)
expect 0 "brand" -- "$pack" brand --stub rstub.exe -o branded.exe "${brand_args[@]}"
expect 0 "brand a branded stub again" -- "$pack" brand --stub branded.exe -o rebranded.exe "${brand_args[@]}"
cmp -s branded.exe rebranded.exe || fail "branding twice gave other bytes than branding once"
wrestool -l branded.exe | sed 's/ \[.*//' >listed.txt
for want in "--type=14 --name='APP' --language=1033" "--type=3 --name=2 --language=1033" \
            "--type=16 --name=1 --language=0" "--type=6 --name=7 --language=1031" "--type=6 --name=7 --language=1036" \
            "--type=6 --name=7 --language=1033" "--type=24 --name=1 --language=1033"; do
  grep -qx -- "$want" listed.txt || fail "brand: wrestool does not list $want: $(cat listed.txt)"
done
[ "$(wc -l <listed.txt)" = 8 ] || fail "brand: left the stub's own icons behind: $(cat listed.txt)"
wrestool -x -t14 --name=APP branded.exe >group.ico && mkdir -p group-img && icotool -x -o group-img group.ico &&
  [ "$(icotool -l group.ico | wc -l)" = 2 ] && cmp -s group-img/group_1_*.png icon-a.png ||
  fail "brand: the icon group APP is not vendor.ico: $(icotool -l group.ico)"
wrestool -x --raw -t16 branded.exe >version.bin && wrestool -x --raw -t6 -n7 -L1031 branded.exe >de.bin &&
  wrestool -x --raw -t6 -n7 -L1033 rstub.exe >en-stub.bin || fail "brand: wrestool extracts no version or strings"
python3 - branded.exe rstub.exe <<'PY' || fail "brand: version, strings, checksum or unchanged bytes wrong"
import struct, sys
new, old = (open(p, "rb").read() for p in sys.argv[1:3])
v = open("version.bin", "rb").read()
fixed = v.index(struct.pack("<I", 0xFEEF04BD))
assert struct.unpack_from("<4I", v, fixed + 8) == (2 << 16 | 1, 3 << 16 | 4, 2 << 16 | 1, 0), v[fixed:fixed + 24]
text = v.decode("utf-16-le", "replace")
for key, value in [("CompanyName", "Vendør Inc."), ("LegalCopyright", "© 2026"), ("ProductVersion", "2.1"),
                   ("OriginalFilename", "setup.exe"), ("000004b0", ""), ("Translation", "")]:
    assert key + "\0" in text and value + "\0" in text, key
assert v.endswith(struct.pack("<HH", 0, 0x04B0)), v[-8:]
def strings(b):
    out, at = [], 0
    while at < len(b):
        n = struct.unpack_from("<H", b, at)[0]; out.append(b[at + 2:at + 2 + 2 * n].decode("utf-16-le")); at += 2 + 2 * n
    return out
want = dict(l.rstrip("\n").split("=", 1) for l in open("de-DE.txt", encoding="utf-8") if l[0].isdigit())
assert strings(open("de.bin", "rb").read())[4:7] == [want["100"], want["101"], want["102"]]
def checksum(b):
    pe = struct.unpack_from("<I", b, 60)[0]; b2 = bytearray(b); b2[pe + 88:pe + 92] = bytes(4); s = 0
    for (w,) in struct.iter_unpack("<H", b2 + bytes(len(b2) % 2)): s = (s + w) & 0xFFFF if s + w < 0x10000 else (s + w - 0xFFFF)
    return struct.unpack_from("<I", b, pe + 88)[0], s + len(b)
assert checksum(new)[0] == checksum(new)[1] != 0, checksum(new)
pe = struct.unpack_from("<I", old, 60)[0]
first, rsrc = (struct.unpack_from("<I", old, pe + 248 + 40 * i + 20)[0] for i in (0, 8))
assert new[first:rsrc] == old[first:rsrc], "bytes before .rsrc changed"
PY
# The shipped English file gives back the stub's own table; every shipped file is taken.
all_messages=$(for f in ??-??.txt; do printf -- '--messages %s=%s ' "${f%.txt}" "$f"; done)
expect 0 "brand with every shipped messages file" -- "$pack" brand --stub rstub.exe -o all-languages.exe $all_messages
wrestool -x --raw -t6 -n7 -L1033 all-languages.exe | cmp -s - en-stub.bin || fail "en-US.txt is not the stub's English"
expect 0 "inspect a branded stub" -- "$pack" inspect branded.exe
grep -qx "icon APP: 2 image(s): 16x16 32-bit, 32x32 32-bit" out.txt && grep -qx "version CompanyName: Vendør Inc." out.txt &&
  grep -qx "messages: de-DE (1031), en-US (1033), fr-FR (1036)" out.txt || fail "inspect of a branded stub: $(cat out.txt)"
expect 0 "set-key a branded stub" -- "$pack" set-key --stub branded.exe --key key.pub.pem -o branded-keyed.exe
osslsigncode sign -certs cert.crt -key cert.key -in branded-keyed.exe -out branded-signed.exe >/dev/null &&
  osslsigncode verify -in branded-signed.exe -CAfile cert.crt >/dev/null 2>&1 || fail "osslsigncode does not sign a branded stub"
expect 0 "attach to a branded stub" -- "$pack" attach --stub branded-signed.exe --payload payload.bin --carrier certificate -o branded-setup.exe
expect 0 "verify a branded setup" -- "$pack" verify branded-setup.exe --key key.pub.pem
cat rstub.exe payload.bin >rstub-payload.exe && head -c 2000 vendor.ico >cut.ico && cp rstub.exe other-layout.exe &&
  python3 -c "import struct; b = bytearray(open('other-layout.exe', 'rb').read()); pe = struct.unpack_from('<I', b, 60)[0]
b[pe + 248 + 40 * 9:pe + 248 + 40 * 9 + 6] = b'.other'; open('other-layout.exe', 'wb').write(b)" || exit 1
while IFS='|' read -r needle stub options; do
  rejects "brand: $needle" bad.exe "$needle" -- "$pack" brand --stub $stub -o bad.exe $options
done <<'ROWS'
the stub is signed|branded-signed.exe|--company X
already carries a payload|rstub-payload.exe|--company X
the image has no resources|stub.exe|--company X
a section other than .reloc follows the resources (.other)|other-layout.exe|--company X
not an icon file: no icon directory|rstub.exe|--icon de-DE.txt
image 2 lies outside the file|rstub.exe|--icon cut.ico
"1.2.3.4.5" is not a dotted version|rstub.exe|--file-version 1.2.3.4.5
"2.70000" is not a dotted version|rstub.exe|--product-version 2.70000
message 102 is missing|rstub.exe|--messages de-DE=short.txt
unknown id "103"|rstub.exe|--messages de-DE=extra.txt
LANG=FILE takes a locale name|rstub.exe|--messages xx-YY=de-DE.txt
ROWS

# --- bindings ---------------------------------------------------------------
# Seventeen payloads of their own: one more than a slot binds (made by the
# reference where there is one: under Wine each pack costs seconds).
for i in $(seq 1 17); do
  "${reference:-$pack}" pack -k key.pem -o many-$i.bin --level 1 --name "Demo $i" x86.msi || exit 1
done
many=$(for i in $(seq 1 17); do printf -- '--bind many-%s.bin ' $i; done)
# Each row: exit code, stub, options, output, message. A payload named twice
# is bound once; without --bind the same key keeps its bindings.
while IFS='|' read -r want stub option output needle; do
  "$pack" set-key --stub $stub --key key.pub.pem -o $output $option >out.txt 2>err.txt
  got=$?
  [ "$got" = "$want" ] && grep -q -- "$needle" out.txt err.txt || fail "set-key $stub $option: exit $got, $(cat out.txt err.txt)"
done <<ROWS
0|slot.exe|--bind payload.bin --bind payload.bin|bound.exe|stamped, bound to 1 payload(s)
0|bound.exe||again.exe|already there, the stub unchanged, bound to 1 payload(s)
0|stamped.exe|--bind payload.bin|bound-later.exe|already there, now bound, bound to 1 payload(s)
1|bound.exe|--bind big.bin|bad.exe|bound to 1 other payload(s); --replace stamps over them
0|bound.exe|--bind big.bin --bind payload.bin --replace|bound-two.exe|bound anew, bound to 2 payload(s)
1|v1.exe|--bind payload.bin|bad.exe|version 1 (a launcher built before payload bindings)
0|v1.exe||v1-stamped.exe|stamped
1|slot.exe|--bind tampered-manifest.bin|bad.exe|tampered-manifest.bin: its manifest does not verify
1|slot.exe|$many|bad.exe|17 payloads to bind, but the key slot holds at most 16
ROWS
cmp -s bound.exe again.exe || fail "set-key without --bind changed a bound stub"
expect 0 "inspect a version 1 stub" -- "$pack" inspect v1-stamped.exe --json
python3 -c "import json; s = json.load(open('out.txt'))['keySlot']; assert (s['version'], s['state'], s['bindings']) == (1, 'stamped', []), s" ||
  fail "inspect of a version 1 slot: $(cat out.txt)"
# The digest a slot binds: SHA-256 of the manifest's content, the lowest
# record of the stack (its trailer is the first manifest type in the file).
digest=$(python3 -c "
import hashlib, struct, sys, zlib
b = open('payload.bin', 'rb').read()
at = b.index(bytes.fromhex('F7BBD5EE84121946918CF0CB8EE28B55'))
print(hashlib.sha256(zlib.decompress(b[:struct.unpack_from('<I', b, at + 24)[0]])).hexdigest())")
expect 0 "inspect a bound stub" -- "$pack" inspect bound.exe
grep -q "^key slot: stamped, key sha256 $fingerprint, bound to 1 payload(s)" out.txt &&
  grep -q "^key slot binds: manifest sha256 $digest" out.txt || fail "inspect does not show the binding $digest: $(cat out.txt)"
# A bound, signed stub takes its payload (both carriers) and no other; a
# payload appended behind the packer's back is listed as refused.
osslsigncode sign -certs cert.crt -key cert.key -in bound.exe -out signed-bound.exe >/dev/null || exit 1
for carrier in certificate tail; do
  expect 0 "attach a bound payload ($carrier)" -- "$pack" attach --stub signed-bound.exe --payload payload.bin --carrier $carrier -o setup-bound-$carrier.exe
  rejects "attach an unbound payload ($carrier)" bad.exe "is not one of the 1 payload(s) signed-bound.exe's key slot is bound to" -- \
    "$pack" attach --stub signed-bound.exe --payload big.bin --carrier $carrier -o bad.exe
done
rejects "attach --key --bind leaves out the payload" bad.exe "is not one of the 1 payload(s)" -- \
  "$pack" attach --stub slot.exe --payload big.bin --carrier tail -o bad.exe --key key.pub.pem --bind payload.bin
expect 0 "verify a bound setup" -- "$pack" verify setup-bound-certificate.exe --key key.pub.pem
grep -q "every record verifies; key slot bound to 1 payload(s); payload 0 bound" out.txt || fail "verify of a bound setup: $(cat out.txt)"
cat bound.exe big.bin >appended.exe
expect 0 "inspect an appended payload" -- "$pack" inspect appended.exe --json
python3 -c "import json; d = json.load(open('out.txt')); p = d['payloads'][0]; assert p['bound'] is False and \
  d['keySlot']['bindings'] == ['$digest'] and any('not one the key slot is bound to' in x for x in d['problems']), d" ||
  fail "inspect --json of an appended payload: $(head -c 400 out.txt)"
expect 3 "verify an appended payload" -- "$pack" verify appended.exe --key key.pub.pem
grep -q "payload 0: its manifest (sha256 [0-9a-f]*) is not one the key slot is bound to: the launcher refuses it (code 1392, line 592)" err.txt ||
  fail "verify of an appended payload: $(cat err.txt)"

# --- simulate ---------------------------------------------------------------
# payload.bin: 1 Intel 1033, 2 x64 1031, 3 x64 1033;2057; big.bin: x64 1031.
# A bare payload needs --key; a stub verifies with its slot's key.
# Exit 4 where the machine gets no package.
while IFS='|' read -r want file arch lcid needle; do
  current="simulate $file $arch $lcid"
  key="--key key.pub.pem" && [ "${file%.exe}" != "$file" ] && key=
  "$pack" simulate $file --arch $arch --lcid $lcid $key >out.txt 2>err.txt
  got=$?
  [ "$got" = "$want" ] && grep -q -- "$needle" out.txt || fail "$current: exit $got, $(cat out.txt err.txt)"
done <<'ROWS'
0|payload.bin|x86|en-US|package 1 .*by the exact LCID pass
0|payload.bin|x86|1031|package 1 .*by the US English pass
0|payload.bin|x64|de-DE|package 2 .*by the exact LCID pass
0|payload.bin|wow64|de_ch|package 2 .*by the language pass
0|payload.bin|x64|0x809|package 3 .*by the exact LCID pass
0|setup-keyed.exe|x64|ja-JP|package 3 .*by the US English pass
0|setup-bound-tail.exe|x86|en-US|package 1 .*by the exact LCID pass
4|appended.exe|x64|de-DE|the launcher refuses payload 0, which its key slot does not bind: it ends with (1392, 592)
4|big.bin|x86|1031|no package fits: the launcher ends with (13, 2151) and string 101
4|big.bin|x64|en-US|no package fits
ROWS
expect 4 "simulate --all, an architecture without a package" -- "$pack" simulate big.bin --key key.pub.pem --all
grep -q "^x86 .*(13, 2151)" out.txt || fail "simulate --all of big.bin: $(cat out.txt)"
expect 0 "simulate an empty slot with --key" -- "$pack" simulate setup-empty.exe --key key.pub.pem --all
grep -q "key slot is empty" err.txt || fail "simulate does not warn of an empty slot: $(cat err.txt)"
expect 0 "simulate --all --json" -- "$pack" simulate payload.bin --key key.pub.pem --all --json
python3 -c "import json; c = json.load(open('out.txt'))['cases']; assert len(c) == 24 and \
  [(x['package']['id'], x['pass']) for x in c if (x['arch'], x['locale']) == ('x64', 'de-CH')] == [(2, 'language')], c" ||
  fail "simulate --all --json: $(head -c 300 out.txt)"
# --- what the launcher leaves out -------------------------------------------
# pack and verify warn alike, pack ends with 0, verify --strict with 4. Each
# row: packages, the warning ("-": none).
while IFS='|' read -r packages needle; do
  current="leaves out: $packages"
  want=4 && [ "$needle" = - ] && want=0
  rm -f out-left.bin && "$pack" pack -k key.pem -o out-left.bin $packages >out.txt 2>pack-err.txt
  got=$?
  "$pack" verify out-left.bin --key key.pub.pem >out.txt 2>err.txt || fail "$current: verify failed"
  cmp -s pack-err.txt err.txt || fail "$current: pack and verify warn differently: $(cat pack-err.txt err.txt)"
  [ "$needle" = - ] && [ ! -s err.txt ] || grep -q -- "^msilaunch-pack: warning: out-left.bin: $needle" err.txt ||
    fail "$current: pack exit $got, $(cat err.txt)"
  "$pack" verify out-left.bin --key key.pub.pem --strict >out.txt 2>err.txt
  strict=$?
  [ "$got" = 0 ] && [ $strict = $want ] || fail "$current: pack exit $got, verify --strict exit $strict"
done <<'ROWS'
x86.msi de-dir/de.msi en-dir/en.msi|-
x86.msi|no package for 64-bit Windows: no user there is given one
--arch x64 x86.msi --lcids 0 x86.msi|payload 0 package 2 "Demo App x86" (Intel, LCIDs 0): the launcher never chooses it
x86.msi --arch x64 x86.msi --name Twin x86.msi|payload 0 package 3 "Twin" (Intel, LCIDs 1033): the launcher never chooses it
x86.msi de-dir/de.msi|no US English (1033) package for 64-bit Windows: a user there whose language has no package (such as LCID 1025 (ar-SA)) gets none
ROWS

# --- names ------------------------------------------------------------------
# Non-ASCII names, in a folder deeper than Windows' MAX_PATH: in, out, and
# back on standard output as given.
deep="nämë-Ω$(printf '/level-%03d' $(seq 1 30))"
mkdir -p "$deep" && cp x86.msi "$deep/päckage.msi"
expect 0 "pack in a deep non-ASCII folder" -- "$pack" pack -k key.pem -o "$deep/päyload.bin" "$deep/päckage.msi"
expect 0 "extract in a deep non-ASCII folder" -- "$pack" extract "$deep/päyload.bin" --key key.pub.pem -o "$deep/öut"
[ "$(cat out.txt)" = "$deep/öut/1" ] && cmp -s "$deep/öut/1/main.msi" x86.msi ||
  fail "extract in a deep non-ASCII folder: $(cat out.txt err.txt)"

# --- command line -----------------------------------------------------------
expect 2 "no command" -- "$pack"
expect 2 "unknown command" -- "$pack" frobnicate
expect 2 "pack without key" -- "$pack" pack -o x.bin x86.msi
expect 2 "options after the last package" -- "$pack" pack -k key.pem -o x.bin x86.msi --arch x64
# Wrong command lines: exit 2 and this first line on standard error. Options
# are whole elements: no "--key=X", "-kX", abbreviation or "--" is taken.
while IFS='|' read -r message line; do
  eval "set -- $line"
  "$pack" "$@" >out.txt 2>err.txt
  got=$?
  [ "$got" = 2 ] && [ "$(head -1 err.txt)" = "msilaunch-pack: $message" ] ||
    fail "$line: exit $got, $(head -1 err.txt)"
done <<'ROWS'
unknown command frobnicate|frobnicate x
pack: unknown option --foo|pack -k key.pem -o x.bin --foo 1 x86.msi
pack: --foo needs a value|pack -k key.pem -o x.bin x86.msi --foo
pack: unknown option --key=key.pem|pack --key=key.pem -o x.bin x86.msi
pack: unknown option --lev|pack --lev 3 -k key.pem -o x.bin x86.msi
pack: unknown option -kkey.pem|pack -kkey.pem -o x.bin x86.msi
pack: unknown option --|pack -k key.pem -o x.bin -- x86.msi
pack: --level must be 1..12|pack -k key.pem -o x.bin --level 13 x86.msi
pack: no package given|pack -k key.pem -o x.bin
keygen: unexpected argument -o|keygen -o
keygen: unexpected argument --output=k.pem|keygen --output=k.pem
attach: unexpected argument extra|attach --stub stub.exe --payload payload.bin --carrier tail -o x.exe extra
attach: --carrier must be certificate or tail|attach --stub stub.exe --payload payload.bin -o x.exe
inspect: unexpected argument b|inspect a b
inspect: unexpected argument -|inspect payload.bin -
verify: unexpected argument --json|verify payload.bin --key key.pub.pem --json
verify: --key PUB.pem is required|verify payload.bin
extract: -o DIR is required|extract payload.bin --key key.pub.pem
extract: --package takes a package id (1, 2, ...)|extract payload.bin --key key.pub.pem -o x --package 0
set-key: --stub, --key and -o are required|set-key --stub stub.exe -o x.exe
brand: nothing to brand: give --icon, version information or --messages|brand --stub stub.exe -o x.exe
attach: --replace goes with --key|attach --stub stub.exe --payload payload.bin --carrier tail -o x.exe --replace
attach: --bind goes with --key|attach --stub stub.exe --payload payload.bin --carrier tail -o x.exe --bind payload.bin
simulate: --arch must be x86, x64 or wow64|simulate payload.bin --arch arm64 --lcid 1033
simulate: --lcid takes an LCID (2055, 0x807) or a locale name (de-CH)|simulate payload.bin --arch x86 --lcid xx-YY
simulate: --all takes no --arch or --lcid|simulate payload.bin --all --lcid 1033
simulate: --arch and --lcid are required (or --all)|simulate payload.bin --arch x86
ROWS
for command in keygen pack brand set-key attach inspect simulate verify extract; do
  expect 0 "$command --help" -- "$pack" $command --help
  grep -q "usage: msilaunch-pack $command" out.txt || fail "$command --help shows no usage"
done

# --- the same bytes from another build --------------------------------------
if [ -n "$reference" ]; then
  "$reference" pack -k key.pem -o ref.bin x86.msi de-dir/de.msi --name "Demo App (English)" en-dir/en.msi &&
    "$reference" pack -k key.pem -o ref-big.bin big/de.msi &&
    "$reference" pack -k key.pem -o ref-pages.bin cp0.msi cp1252.msi cp65001.msi media/media.msi ||
    fail "the reference packer failed: pack"
  for carrier in certificate tail; do
    "$reference" attach --stub signed.exe --payload ref.bin --carrier $carrier -o ref-$carrier.exe 2>/dev/null ||
      fail "the reference packer failed: attach $carrier"
  done
  "$reference" set-key --stub slot.exe --key key.pub.pem --bind ref.bin --bind ref.bin -o ref-bound.exe >/dev/null &&
    "$reference" set-key --stub bound.exe --key key.pub.pem --bind ref-big.bin --bind ref.bin --replace \
      -o ref-bound-two.exe >/dev/null || fail "the reference packer failed: set-key --bind"
  "$reference" brand --stub rstub.exe -o ref-branded.exe "${brand_args[@]}" >/dev/null &&
    "$reference" brand --stub rstub.exe -o ref-all-languages.exe $all_messages >/dev/null ||
    fail "the reference packer failed: brand"
  for pair in payload.bin:ref.bin big.bin:ref-big.bin pages.bin:ref-pages.bin setup-certificate.exe:ref-certificate.exe \
              setup-tail.exe:ref-tail.exe bound.exe:ref-bound.exe bound-two.exe:ref-bound-two.exe \
              branded.exe:ref-branded.exe all-languages.exe:ref-all-languages.exe; do
    cmp -s "${pair%:*}" "${pair#*:}" || fail "${pair%:*} differs from what the reference packer made"
  done
fi

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "all packer command tests passed"
