#!/bin/sh
# Installs the build into a temporary prefix and builds the Debian package from it, then checks what each
# would put on a system: every file, the desktop entry and the AppStream metadata through their
# validators, the manual page of kavrel-cli against the commands and options its --help lists, the
# package's dependencies, and the unpacked kavrel-cli at work.
# Usage: package-test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
id=org.kavrel.Kavrel

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli file gzip; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# check_tree PREFIX: the files below an installed prefix.
check_tree() {
    prefix=$1
    for program in kavrel kavrel-cli; do
        [ -x "$prefix/bin/$program" ] || fail "$prefix/bin/$program is missing or not executable"
        gzip -t "$prefix/share/man/man1/$program.1.gz" || fail "no manual page for $program"
    done
    [ -x "$prefix/bin/kavrel-clipboard" ] || fail "$prefix/bin/kavrel-clipboard is missing or not executable"
    desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "the desktop entry is not valid"
    grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop" || fail "the desktop entry names another icon"
    appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >"$work/appstream.log" 2>&1 ||
        { cat "$work/appstream.log"; fail "the AppStream metadata is not valid"; }
    for size in 16 24 32 48 64 128 256; do
        icon=$prefix/share/icons/hicolor/${size}x$size/apps/$id.png
        file -b "$icon" | grep -q "^PNG image data, $size x $size," || fail "$icon is not a $size x $size PNG"
    done
    grep -q "<svg" "$prefix/share/icons/hicolor/scalable/apps/$id.svg" || fail "no scalable icon"
}

# Every command that kavrel-cli --help lists and every option of every command's --help is in its manual page.
check_manual() {
    cli=$1
    page=$(gzip -dc "$2" | sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g')
    commands=$("$cli" --help | sed -n '/^commands:/,/^$/s/^  \([a-z][a-z-]*\).*/\1/p')
    [ -n "$commands" ] || fail "kavrel-cli --help lists no commands"
    for command in $commands; do
        echo "$page" | grep -q "^\.B.* $command" || fail "the manual page lacks the command $command"
        options=$("$cli" "$command" --help |
            awk '/^  -/ { for (i = 1; i <= NF; i++) { if ($i !~ /^-/) break; gsub(",", "", $i); print $i } }')
        for option in $options; do
            echo "$page" | grep -q -- "$option" || fail "the manual page lacks $command's option $option"
        done
    done
}

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
check_tree "$work/prefix"
check_manual "$work/prefix/bin/kavrel-cli" "$work/prefix/share/man/man1/kavrel-cli.1.gz"

cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB"; }
deb=$(ls "$work"/package/*.deb)
dpkg-deb -x "$deb" "$work/root"
check_tree "$work/root/usr"
# The dependencies come from the binaries: the libraries that kavrel and kavrel-cli link.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6gui6 libpng16-16 libjpeg62-turbo libxcb-shm0; do
    echo "$depends" | grep -q "$library" || fail "Depends lacks $library: $depends"
done

cli=$work/root/usr/bin/kavrel-cli
"$cli" --help | grep -q "convert IN OUT" || fail "the unpacked kavrel-cli --help"
"$cli" convert "$source/fuzz/seeds/gif-16.gif" "$work/converted.png" || fail "the unpacked kavrel-cli convert"
file -b "$work/converted.png" | grep -q "^PNG image data, .*colormap" || fail "convert wrote $(file -b "$work/converted.png")"
if command -v compare >/dev/null; then
    differing=$(compare -metric AE "$source/fuzz/seeds/gif-16.gif" "$work/converted.png" null: 2>&1) || true
    [ "$differing" = 0 ] || fail "the converted picture differs from ImageMagick's reading in $differing pixels"
fi
echo "installed and packaged: $(basename "$deb")"
