#!/usr/bin/env bash
# Builds the Debian package with scripts/package (which fails on any lintian error) and checks
# that it holds exactly the expected files (package_files.txt beside this script).
# Usage: check_package.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
package=$("$source_dir/scripts/package" "$build_dir" | tail -n1)
actual=$(dpkg-deb -c "$package" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort)
if ! diff <(sort "$here/package_files.txt") <(echo "$actual"); then
    echo "check_package: $package does not hold the expected files (< expected, > found)" >&2
    exit 1
fi
echo "package ok: $(basename "$package"), $(echo "$actual" | wc -l) files, lintian without errors"
