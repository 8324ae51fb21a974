#!/usr/bin/env bash
# Bumps only the project version in a copy of the tree: the packaging check refuses, naming the
# changelog and the metainfo. With both updated it passes, and a configured build of the copy
# shows the new version wherever a user sees one (the core's version, hence the About page and
# the diagnostics' appVersion; the desktop's --version; the metainfo; the man pages).
# Usage: version_bump_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
tar -C "$source_dir" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$copy" -xf -
sed -i 's/project(plovik VERSION [0-9.]*/project(plovik VERSION 9.9.9/' "$copy/CMakeLists.txt"
check() { cmake -DSOURCE_DIR="$copy" -P "$copy/packaging/check_versions.cmake" 2>&1; }

if refusal=$(check); then
    echo "version_bump_test: a bumped version without a changelog entry was accepted" >&2
    exit 1
fi
for named in packaging/changelog cn.trenzo.workstation.metainfo.xml.in; do
    grep -q "$named" <<<"$refusal" || { echo "refusal does not name $named: $refusal" >&2; exit 1; }
done

sed -i '1i plovik (9.9.9) unstable; urgency=medium\n\n  * Test release.\n\n -- plovik developers <plovik@localhost>  Mon, 07 Dec 2026 12:00:00 +0000\n' \
    "$copy/packaging/changelog"
sed -i 's|<releases>|<releases>\n    <release version="9.9.9" date="2026-12-07"/>|' \
    "$copy/packaging/cn.trenzo.workstation.metainfo.xml.in"
check >/dev/null

cmake -S "$copy" -B "$copy/build" -DBUILD_TESTING=OFF -DOSTRAK_BUILD_BENCH=OFF >/dev/null
for generated in core/include/ostrak/version.hpp packaging/cn.trenzo.workstation.metainfo.xml \
    packaging/man/OstrakDesktop.1 packaging/man/OstrakService.8; do
    grep -q '9\.9\.9' "$copy/build/$generated" || { echo "$generated lacks 9.9.9" >&2; exit 1; }
    if grep -q '0\.1\.1' "$copy/build/$generated" && [[ $generated != *metainfo* ]]; then
        echo "$generated still names the old version" >&2
        exit 1
    fi
done
grep -q 'OSTRAK_VERSION="${PROJECT_VERSION}"' "$copy/desktop/CMakeLists.txt"
echo "version bump: refused without changelog and metainfo, 9.9.9 everywhere with them"
