#!/bin/sh
# check-install.sh BUILD EXPECTED SCRATCH
# Installs the build into SCRATCH/root (DESTDIR, prefix /usr), validates the
# desktop entry and the AppStream metadata, compares the installed files with
# EXPECTED, then builds the Debian package and checks its files and its
# dependencies, maintainer scripts and lintian's verdict.
set -eu
build=$1 expected=$2 scratch=$3
root=$scratch/root
app=example.bilmeko.Bilmeko
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch"
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null

# Exactly the expected files, nothing from the build tree.
(cd "$root/usr" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort) > "$scratch/installed.txt"
LC_ALL=C sort "$expected" > "$scratch/expected.txt"
diff -u "$scratch/expected.txt" "$scratch/installed.txt" || fail "installed files differ from the list"

desktop=$root/usr/share/applications/$app.desktop
desktop-file-validate "$desktop" || fail "desktop entry"
desktop-file-validate "$root/usr/share/applications/example.bilmeko.Owner.desktop" || fail "owner's desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app.metainfo.xml" || fail "AppStream metadata"
appstreamcli validate-tree --no-net "$root" || fail "installed tree"

# The entry starts the installed program, names the window's class and an
# icon that is in the theme.
key() { sed -n "s/^$1=//p" "$desktop"; }
[ -x "$root/usr/bin/$(key Exec | cut -d' ' -f1)" ] || fail "Exec names no installed program"
[ "$(key StartupWMClass)" = Bilmeko ] || fail "StartupWMClass is not the window's class"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$(key Icon).svg" ] || fail "Icon is not in the theme"
grep -q "<release version=\"$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")\"" \
  "$root/usr/share/metainfo/$app.metainfo.xml" || fail "release version is not the project's"
file -L "$root/usr/bin/bilmeko" | grep -q ELF || fail "bilmeko is not a program"
# The chart module beside the libraries; the program starts without Qt Charts.
chart=$(grep '/bilmeko/bilmeko-chart\.so$' "$expected")
file -L "$root/usr/$chart" | grep -q 'ELF.*shared object' || fail "the chart module is not a library"
if ldd "$root/usr/bin/bilmeko" | grep -q libQt6Charts; then fail "the program links Qt Charts"; fi
# Paper is the print helper's: the program starts without print support.
if ldd "$root/usr/bin/bilmeko" | grep -q libQt6PrintSupport; then fail "the program links Qt PrintSupport"; fi
# The ledger's modules likewise: the programs start without libpq.
for module in bilmeko-ledger-desk bilmeko-owner bilmeko-ledger-report; do
  path=$(grep "/bilmeko/$module\.so\$" "$expected")
  file -L "$root/usr/$path" | grep -q 'ELF.*shared object' || fail "$module is not a library"
done
for program in bilmeko bilmeko-report; do
  if ldd "$root/usr/bin/$program" | grep -q libpq; then fail "$program links libpq"; fi
done

# The package: the same files under /usr, dependencies from dpkg-shlibdeps
# plus the run-time plugins and font.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$scratch"/pkg/bilmeko_*.deb)
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./usr/||' | LC_ALL=C sort > "$scratch/packaged.txt"
diff -u "$scratch/expected.txt" "$scratch/packaged.txt" || fail "packaged files differ from the list"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in 'libc6 (>=' 'libqt6core6 (>=' 'libqt6widgets6 (>=' 'libqt6printsupport6 (>=' 'libqt6charts6 (>=' 'libpq5 (>=' \
           libqt6svg6 qt6-qpa-plugins fonts-dejavu-core; do
  case "$depends" in *"$dep"*) ;; *) fail "Depends lacks $dep" ;; esac
done
[ "$(dpkg-deb -f "$deb" Package)" = bilmeko ] || fail "package name"
# No maintainer scripts: nothing to run at install, and a removed package
# leaves nothing behind (no state "rc").
scripts=$(dpkg-deb -I "$deb" | grep -Eo '(pre|post)(inst|rm)' || true)
[ -z "$scripts" ] || fail "maintainer scripts: $scripts"
# The package as a distribution's packager checks it.
lintian --fail-on error "$deb" || fail "lintian"
echo "install tree and package: ok"
