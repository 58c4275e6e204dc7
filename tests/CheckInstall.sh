#!/usr/bin/env bash
# Installs the build tree into a scratch DESTDIR the way `make install` does and runs the
# installed command through its link in bin/: it must find the module, the bus library,
# the resource library and the images beside itself, and the man page and the completion
# must be in place.
set -euo pipefail
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT

DESTDIR="$dest" cmake --install "$build" --prefix /opt/gp >/dev/null
root="$dest/opt/gp"
for f in bin/glimmerpane lib/glimmerpane/glimmerpane lib/glimmerpane/Glimmerpane.so lib/glimmerpane/BusBroker.so \
         lib/glimmerpane/GPNResources.so lib/glimmerpane/secure.png share/man/man1/glimmerpane.1.gz \
         share/bash-completion/completions/glimmerpane share/doc/glimmerpane/cli.md; do
  [ -e "$root/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
[ "$(readlink "$root/bin/glimmerpane")" = "../lib/glimmerpane/glimmerpane" ] || { echo "bin/glimmerpane is not the link" >&2; exit 1; }
[ "$("$root/bin/glimmerpane" --version)" = "glimmerpane 1.6.0" ] || { echo "--version" >&2; exit 1; }
payloads=$(TMPDIR="$dest" "$root/bin/glimmerpane" demo --lang en-US --json --html "$dest/p.html" 2>/dev/null | grep -c '^{"viewer_payload"')
[ "$payloads" = 19 ] || { echo "the installed demo published $payloads payloads, not 19" >&2; exit 1; }
gzip -dc "$root/share/man/man1/glimmerpane.1.gz" | grep -q '^\.TH GLIMMERPANE 1' || { echo "man page" >&2; exit 1; }
bash -n "$root/share/bash-completion/completions/glimmerpane"
echo "installed and ran from $root"
