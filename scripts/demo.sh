#!/usr/bin/env bash
# The main job on a simulated camera: installs what is missing, builds, and
# captures a few frames from a simulated TAVC into okccam-frames/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build/tools/okccam list --sim TAVC
build/tools/okccam capture --sim TAVC --frames 5 --exposure-us 20000 --format raw8 --out okccam-frames
build/tools/okccam capture --sim TAVC --frames 1 --exposure-us 10000 --format rgb24 --file-format png --out okccam-frames
