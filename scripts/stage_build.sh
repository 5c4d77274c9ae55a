#!/usr/bin/env bash
# Builds the extension into its own build directory and lays out an importable package there,
# without touching the virtual environment: for working on the module beside other builds.
#   scripts/stage_build.sh NAME   ->   PYTHONPATH=build/NAME/stage .venv/bin/python ...
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
NAME="${1:?usage: scripts/stage_build.sh NAME}"
BUILD="$ROOT/build/$NAME"
if [ ! -f "$BUILD/build.ninja" ]; then
  PATH="$ROOT/.venv/bin:$PATH" cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCORVALA_EXTENSION=ON \
    -DCORVALA_TESTS=ON -DPython_EXECUTABLE="$ROOT/.venv/bin/python" >/dev/null
fi
PATH="$ROOT/.venv/bin:$PATH" ninja -C "$BUILD" >"$BUILD/ninja.log" || { cat "$BUILD/ninja.log"; exit 1; }
rm -rf "$BUILD/stage" && mkdir -p "$BUILD/stage"
cp -r "$ROOT/python/corvala" "$BUILD/stage/corvala"
cp "$BUILD/ext.abi3.so" "$BUILD/stage/corvala/"
[ -f "$BUILD/_corvala_testing.abi3.so" ] && cp "$BUILD/_corvala_testing.abi3.so" "$BUILD/stage/"
