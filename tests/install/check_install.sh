#!/usr/bin/env bash
# Checks an install tree (made here from BUILD_DIR, or an unpacked .deb): every shipped file, and each program's --version.
# Usage: check_install.sh VERSION ROOT [BUILD_DIR]
set -euo pipefail
version=$1 root=$2
if [ $# -gt 2 ]; then
  rm -rf "$root"
  DESTDIR=$root cmake --install "$3" --prefix /usr >/dev/null
fi
fail=0
doc=usr/share/doc/morven-update-tool
for f in usr/bin/{morven-update-tool,morvenctl,morven-sim,morven-station} \
  usr/share/man/man1/{morven-update-tool,morvenctl,morven-sim,morven-station}.1.gz \
  usr/share/bash-completion/completions/{morvenctl,morven-sim} usr/share/applications/{morven-update-tool,morven-station}.desktop \
  usr/share/icons/hicolor/{scalable/apps/morven-update-tool.svg,48x48/apps/morven-update-tool.png} \
  usr/share/metainfo/org.morven.update_tool.metainfo.xml $doc/{README.md,copyright,changelog.Debian.gz} \
  $doc/examples/60-morven-serial.rules; do
  [ -s "$root/$f" ] || { echo "missing or empty: /$f"; fail=1; }
done
for f in "$root"/usr/share/man/man1/*.gz "$root/$doc/changelog.Debian.gz"; do
  if zgrep -q '@[A-Z_]*@' "$f"; then echo "unconfigured placeholder in ${f#"$root"}"; fail=1; fi
done
# No display: --help and --version must not need one.
for p in morven-update-tool morvenctl morven-sim morven-station; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/$p" --version 2>&1) || true
  if [ "$out" != "$p $version" ]; then
    echo "$p --version printed: $out"; fail=1
  fi
done
[ $fail -eq 0 ] && echo "install tree complete: $root"
exit $fail
