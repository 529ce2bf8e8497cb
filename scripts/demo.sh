#!/usr/bin/env bash
# The main job on a simulated camera: installs what is missing, builds, and
# shows the simulated cameras with their descriptors.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build/tools/okccam list --sim TAVC,TAVM-U
