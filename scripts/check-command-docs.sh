#!/usr/bin/env bash
# Fails when docs/commands.md is not what the generator makes of the
# registered command tables and tools/command_docs.txt.
#   bash scripts/check-command-docs.sh [GENERATOR]   (default build/gen_command_docs)
set -euo pipefail
cd "$(dirname "$0")/.."
generator=${1:-build/gen_command_docs}
fresh=$(mktemp)
trap 'rm -f "$fresh"' EXIT
"$generator" tools/command_docs.txt -o "$fresh"
if ! diff -u docs/commands.md "$fresh"; then
  echo "docs/commands.md is out of date: run" >&2
  echo "  $generator tools/command_docs.txt -o docs/commands.md" >&2
  exit 1
fi
