#!/usr/bin/env bash
# The answering pass done by a scripted Chromium on the benchmark's trial pages, for the side-by-side
# figure with quillory-bench (see compare.mjs). Installs what it needs (Debian's chromium, Node.js and
# npm when missing; playwright-core from package-lock.json), then runs the comparison.
# Usage: bench/scripted/run.sh [--runs N] [--json FILE]   (as root, or through sudo when available)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

# Packages only when their command is missing: a Node.js from elsewhere that brings its own npm is kept.
missing=()
[ -x /usr/bin/chromium ] || missing+=(chromium)
command -v node >/dev/null 2>&1 || missing+=(nodejs)
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
    "$here/../../tools/deps.sh" "${missing[@]}"
fi

node_major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$node_major" -lt 18 ]; then
    echo "bench/scripted needs Node.js 18 or later (found $(node --version))" >&2
    exit 1
fi

# The driver only: playwright-core brings no browser of its own and downloads none.
cd "$here"
if ! node -e "require.resolve('playwright-core')" >/dev/null 2>&1 ||
    [ package-lock.json -nt node_modules/.package-lock.json ]; then
    npm ci --no-audit --no-fund --loglevel=error
fi

node compare.mjs "$@"
