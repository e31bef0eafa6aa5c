#!/bin/sh
# Draws the console's three editing dialogs without a display and stores their
# pictures as docs/dialog-settings.png (with its Encryption and Network tabs in
# docs/dialog-settings-encryption.png and docs/dialog-settings-network.png),
# docs/dialog-users.png and docs/dialog-policy.png.
# Usage: scripts/dialog-screenshots.sh [build-dir]   (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
cmake --build "$build" -j2 --target unit_console
mkdir -p "$root/docs"
QT_QPA_PLATFORM=offscreen CORVEL_SCREENSHOT_DIR="$root/docs" \
    "$build/unit_console" --gtest_filter='DialogWidgetTest.*' --gtest_brief=1
ls -l "$root/docs"/dialog-*.png
