#!/bin/sh
# Puts the fonts of Debian's fonts-wine that window frames and dialogs are
# drawn with (Marlett for the caption buttons, Tahoma for captions and
# "MS Shell Dlg") into a Wine prefix: copied to its windows\Fonts and named
# in its registry, as installing a font on Windows does. Wine itself does not
# look where fonts-wine puts them. Usage: wine-fonts.sh PREFIX
set -eu
PREFIX=$1
SOURCE=${VELMORA_WINE_FONTS:-/usr/share/wine/fonts}
FONTS="$PREFIX/drive_c/windows/Fonts"
mkdir -p "$FONTS"
REG=$(mktemp)
trap 'rm -f "$REG"' EXIT
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts]\r\n' >"$REG"
for entry in "marlett.ttf:Marlett (TrueType)" "tahoma.ttf:Tahoma (TrueType)" "tahomabd.ttf:Tahoma Bold (TrueType)"; do
    file=${entry%%:*}
    if [ ! -f "$SOURCE/$file" ]; then
        echo "wine-fonts.sh: $SOURCE/$file is missing (install fonts-wine)" >&2
        exit 1
    fi
    cp "$SOURCE/$file" "$FONTS/$file"
    printf '"%s"="%s"\r\n' "${entry#*:}" "$file" >>"$REG"
done
WINEPREFIX="$PREFIX" WINEDEBUG=-all wine regedit /S "Z:$(echo "$REG" | tr / '\\')" >/dev/null 2>&1
WINEPREFIX="$PREFIX" wineserver -w
