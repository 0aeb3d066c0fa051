#!/usr/bin/env bash
# Builds the player and runs the example applet.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target quillmereplayer
if [ -f build/examples/sum.qma ]; then
  ./build/quillmereplayer build/examples/sum.qma
else
  ./build/quillmereplayer
fi
