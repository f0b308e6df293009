#!/usr/bin/env bash
# The main job: on fresh default machines, the deferred installation from end to end and then the
# removal with both uninstallers, with the machine's changes shown after each step.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "Building the kit into build/ (a few minutes on a fresh clone)..."
scripts/build.sh | sed -nu -e '/^installing:/p' -e 's/^\[ *\([0-9]*\)%\] Built target \(.*\)/  [\1%] \2/p'
scripts/demo_install.sh
scripts/demo_uninstall.sh
