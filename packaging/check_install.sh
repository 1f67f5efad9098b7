#!/usr/bin/env bash
# Installs the build folder given as first argument into a temporary prefix and checks the
# installed tree: the desktop entry and AppStream file validate, the icon and manual page are in
# place, and the installed command line runs.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
share=$prefix/share
desktop-file-validate "$share/applications/org.quillmere.Quillmere.desktop"
appstreamcli validate --no-net "$share/metainfo/org.quillmere.Quillmere.metainfo.xml" >/dev/null
for file in icons/hicolor/scalable/apps/quillmere.svg icons/hicolor/48x48/apps/quillmere.png \
            icons/hicolor/256x256/apps/quillmere.png man/man1/quillmere-cli.1 quillmere/ini/config.ini \
            quillmere/blankimg/blank.jpg quillmere/help/help.html; do
  [ -s "$share/$file" ] || { echo "missing from the installed tree: share/$file"; exit 1; }
done
for program in quillmere quillmere-cli quillmere-verify quillmere-area mapviewer mapcombiner quillmere-tileserver; do
  [ -x "$prefix/bin/$program" ] || { echo "missing from the installed tree: bin/$program"; exit 1; }
done
out=$("$prefix/bin/quillmere-cli" estimate --left 0 --right 1 --top 1 --bottom 0 --zoom 10)
echo "$out"
case $out in *tiles*) ;; *) echo "the installed quillmere-cli estimate said nothing of tiles"; exit 1 ;; esac

# Settings of a user who cannot write the installed ini/ folder go to their XDG folder, first
# as a copy of the shipped file.
chmod 755 "$prefix"
xdg=$(mktemp -d)
trap 'rm -rf "$prefix" "$xdg"' EXIT
chmod 777 "$xdg"
if [ "$(id -u)" = 0 ]; then
  runuser -u nobody -- env HOME="$xdg" XDG_CONFIG_HOME="$xdg/config" \
    "$prefix/bin/quillmere-cli" estimate --left 0 --right 1 --top 1 --bottom 0 --zoom 10 >/dev/null
else
  chmod a-w "$share/quillmere/ini"
  env XDG_CONFIG_HOME="$xdg/config" \
    "$prefix/bin/quillmere-cli" estimate --left 0 --right 1 --top 1 --bottom 0 --zoom 10 >/dev/null
  chmod u+w "$share/quillmere/ini"
fi
cmp "$xdg/config/quillmere/config.ini" "$share/quillmere/ini/config.ini" ||
  { echo "the settings were not kept under XDG_CONFIG_HOME"; exit 1; }
echo "settings of a user without write access: $xdg/config/quillmere/config.ini"
