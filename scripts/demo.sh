#!/usr/bin/env bash
# The main job: on fresh default machines, the deferred installation from end to end and then the
# removal with both uninstallers, with the machine's changes shown after each step.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
scripts/demo_install.sh
scripts/demo_uninstall.sh
