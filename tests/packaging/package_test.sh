#!/usr/bin/env bash
# The Debian package: made with CPack from the build's install rules, it
# must carry the toolchain and depend on the assembler, the linker and
# FLTK.  As root it is installed with dpkg, an example is built and run
# from /tmp with the installed quill, and the package is removed again.
#   package_test.sh BUILD_DIR VERSION      (exit 77: skipped)
set -u
build=$1 version=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
installed=0
cleanup() {
  [ $installed = 1 ] && dpkg -r quillwright > /dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work") > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$work/quillwright_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls "$work"; fail "no $(basename "$deb")"; }
depends=$(dpkg-deb -f "$deb" Depends)
for want in nasm binutils libfltk1.3; do
  [[ $depends == *"$want"* ]] || fail "the package does not depend on $want: $depends"
done
contents=$(dpkg-deb -c "$deb")
for f in bin/quill bin/rewriter bin/ledger lib/quillwright/libquillwright.a \
         share/quillwright/include/END.PROGRAM; do
  [[ $contents == *"./usr/$f"* ]] || fail "the package lacks /usr/$f"
done

if [ "$(id -u)" != 0 ]; then
  echo "skipped: installing the package with dpkg needs root"; exit 77
fi
if dpkg -s quillwright > /dev/null 2>&1; then
  echo "skipped: a quillwright package is installed already, and is left alone"; exit 77
fi
installed=1
dpkg -i "$deb" > "$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
run=$(mktemp -d /tmp/quillwright_package.XXXXXX)
cp "$root/examples/hello.QWR" "$run/"
(cd "$run" && env -u QW_ROOT -u QW_BIN -u QW_LIB -u QW_REWRITER /usr/bin/quill run hello Ada Lovelace) \
  > "$work/out.txt" 2>&1
status=$?
rm -rf "$run"
[ $status = 0 ] || { cat "$work/out.txt"; fail "the installed quill did not build hello"; }
diff "$root/tests/language/examples/hello.expected" "$work/out.txt" || fail "hello printed something else"
echo "package test passed"
