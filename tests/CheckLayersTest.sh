#!/usr/bin/env bash
# The layer check must fail on a planted upward include and on a planted cycle between two
# targets of one level, and pass on the tree as it is.
# Usage: tests/CheckLayersTest.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fresh_copy() {
  rm -rf "$scratch/tree"
  mkdir -p "$scratch/tree"
  (cd "$source_dir" && cp -r --parents docs/architecture.md scripts/check-layers include src bus cli resources/tools "$scratch/tree")
}

expect_fault() {
  local what=$1 pattern=$2
  if output=$(python3 "$scratch/tree/scripts/check-layers" --root "$scratch/tree"); then
    echo "FAIL: $what was not reported"; echo "$output"; exit 1
  fi
  grep -q -- "$pattern" <<<"$output" || { echo "FAIL: $what: no line matching '$pattern'"; echo "$output"; exit 1; }
  echo "ok: $what"
}

fresh_copy
python3 "$scratch/tree/scripts/check-layers" --root "$scratch/tree" >/dev/null || { echo "FAIL: the copy itself fails"; exit 1; }

# The base layer reaching up into the tile engine.
echo '#include "tiles/GlimmerpaneImpl.h"' >> "$scratch/tree/src/base/Utf.h"
expect_fault "an upward include" "src/base/Utf.h:.*includes src/tiles/GlimmerpaneImpl.h.*against the layer order"

# The platform and its registry store share a level; the store includes the platform, so
# the platform including the store closes a cycle.
fresh_copy
echo '#include "platform/Registry.h"' >> "$scratch/tree/src/platform/Prefix.h"
expect_fault "a cycle between targets" "cycle between targets: .*gp_platform.*gp_registry_store"

# A file that no row of the table covers.
fresh_copy
mkdir -p "$scratch/tree/src/stray" && echo '// stray' > "$scratch/tree/src/stray/Stray.h"
expect_fault "a file without a layer" "src/stray/Stray.h: no layer"
