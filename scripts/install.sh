#!/usr/bin/env bash
# Installs the built programs into a program directory (default /opt/corvelftp):
# corveld, corvelctl and, when it was built, corvelpanel from build/ (or $BUILD_DIR),
# the man page of corvelctl into /usr/local/share/man/man1/ and its bash completion
# into /usr/share/bash-completion/completions/. Needs root; uses no network.
# Running it again installs the same files again and changes nothing else: the XML
# files already in the program directory are kept.
# Usage: sudo scripts/install.sh [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:-/opt/corvelftp}
build_dir=${BUILD_DIR:-build}
man_dir=/usr/local/share/man/man1
completion_dir=/usr/share/bash-completion/completions

if [ "$(id -u)" -ne 0 ]; then
  echo "install.sh: run it as root (sudo scripts/install.sh [DIR])" >&2
  exit 1
fi
for program in corveld corvelctl; do
  if [ ! -x "$build_dir/$program" ]; then
    echo "install.sh: $build_dir/$program is missing; build first (scripts/build.sh -DCORVEL_BUILD_TESTS=OFF)" >&2
    exit 1
  fi
done

install -d -m 0755 "$target" "$man_dir" "$completion_dir"
# A program's directory is where it finds its XML files, so each one is copied
# into the target, never linked.
install -m 0755 "$build_dir/corveld" "$build_dir/corvelctl" "$target/"
if [ -x "$build_dir/corvelpanel" ]; then
  install -m 0755 "$build_dir/corvelpanel" "$target/"
fi
install -m 0644 docs/corvelctl.1 "$man_dir/corvelctl.1"
install -m 0644 contrib/bash-completion/corvelctl "$completion_dir/corvelctl"
if command -v mandb >/dev/null 2>&1; then
  mandb -q "$man_dir/.." 2>/dev/null || true
fi

echo "Installed into $target: $(cd "$target" && ls corveld corvelctl corvelpanel 2>/dev/null | tr '\n' ' ')"
echo "Man page: $man_dir/corvelctl.1; bash completion: $completion_dir/corvelctl"
