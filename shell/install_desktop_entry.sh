#!/usr/bin/env bash
# Installs the desktop entry and the icon of lun for the current user:
#   install_desktop_entry.sh /path/to/lun
# The entry goes to $XDG_DATA_HOME/applications (~/.local/share/applications),
# the icon to the hicolor theme there. Starting the entry while lun runs
# shows the running instance's quick search window; otherwise it starts lun.
set -euo pipefail

lun=${1:?usage: install_desktop_entry.sh /path/to/lun}
case "$lun" in
  /*) ;;
  *) lun="$(cd "$(dirname "$lun")" && pwd)/$(basename "$lun")" ;;
esac
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
data="${XDG_DATA_HOME:-$HOME/.local/share}"
apps="$data/applications"
icons="$data/icons/hicolor"

mkdir -p "$apps" "$icons/scalable/apps" "$icons/128x128/apps"
install -m 0644 "$here/lun.svg" "$icons/scalable/apps/lun.svg"
install -m 0644 "$here/lun.png" "$icons/128x128/apps/lun.png"

# The program path goes in quoted, as the desktop entry format wants it: a
# backslash becomes four, '"', '`' and '$' get two before them (the quoting
# rule, then the string escape rule), '%' is doubled.
exec_value=\"$(printf '%s' "$lun" | sed -e 's/\\/\\\\\\\\/g' -e 's/["`$]/\\\\&/g' -e 's/%/%%/g')\"
tmp="$apps/.lun.desktop.$$"
while IFS= read -r line; do
  printf '%s\n' "${line//@LUN@/"$exec_value"}"
done < "$here/lun.desktop" > "$tmp"
chmod 0644 "$tmp"
mv -f "$tmp" "$apps/lun.desktop"

# Refresh the caches where the tools exist; a desktop without them rereads
# the folders by itself.
command -v update-desktop-database >/dev/null 2>&1 && update-desktop-database -q "$apps" || true
command -v gtk-update-icon-cache >/dev/null 2>&1 && gtk-update-icon-cache -q -t "$icons" 2>/dev/null || true
echo "desktop entry: $apps/lun.desktop"
