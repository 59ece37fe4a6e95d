#!/usr/bin/env bash
# The archive's Linux packer needs nothing from the system it runs on: no
# program interpreter, no shared object, and it packs, inspects and verifies
# a real MSI in a root that holds only itself and its inputs (a user
# namespace's chroot; skipped, exit 77, where the machine allows none).
#   usage: static_packer_test.sh PATH/TO/msilaunch-pack WORK-DIR
set -uo pipefail
pack=$(realpath "$1") && [ -f "$pack" ] || { echo "no packer at $1" >&2; exit 1; }
work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

! readelf -l "$pack" | grep -q INTERP || fail "the packer names a program interpreter"
! readelf -d "$pack" 2>/dev/null | grep -q NEEDED || fail "the packer needs shared objects: $(readelf -d "$pack" | grep NEEDED)"
linked=$(ldd "$pack" 2>&1)
[[ $linked == *"not a dynamic executable"* ]] || fail "ldd: $linked"

if ! unshare -r true 2>/dev/null; then
  echo "no user namespaces here: the empty-root run is skipped" >&2
  [ "$failures" = 0 ] && exit 77
  exit 1
fi
mkdir -p root/src
head -c 20000 /dev/urandom >root/src/app.bin
cat >root/product.wxs <<'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{A0000000-0000-4000-8000-0000000000A1}" Name="Static Démo" Language="1033" Version="1.0.0"
           Manufacturer="Test" UpgradeCode="{6A3F5C4E-9A64-4C1D-8E4B-2B7C1A0E5F12}">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="data1.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder"><Directory Id="INSTALLDIR" Name="Demo">
        <Component Id="C1" Guid="{0C0A8D34-5E1B-4E5A-9C62-7F4E3B2D1A01}"><File Id="F1" Source="src/app.bin"/></Component>
      </Directory></Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="C1"/></Feature>
  </Product>
</Wix>
WXS
(cd root && wixl -o product.msi product.wxs 2>/dev/null) || { echo "wixl failed" >&2; exit 1; }
rm -rf root/src root/product.wxs
cp "$pack" root/msilaunch-pack
inside() { unshare -r chroot root /msilaunch-pack "$@"; }
inside keygen -o /key.pem >/dev/null || fail "keygen in the empty root"
inside pack -k /key.pem -o /payload.bin /product.msi || fail "pack in the empty root"
inside inspect /payload.bin --key /key.pub.pem >inspect.txt || fail "inspect in the empty root"
grep -q '"Static Démo"' inspect.txt || fail "inspect shows no product name: $(cat inspect.txt)"
inside verify /payload.bin --key /key.pub.pem || fail "verify in the empty root"
[ "$(ls root)" = "$(printf '%s\n' key.pem key.pub.pem msilaunch-pack payload.bin product.msi)" ] ||
  fail "the root holds more than the packer and its files: $(ls root)"
[ "$failures" = 0 ] && echo "static packer: no interpreter, no shared object, packs in an empty root"
[ "$failures" = 0 ]
