#!/usr/bin/env bash
# Builds the Debian package and its debug symbols with scripts/package (which fails on any
# lintian error or warning), then checks that the package holds exactly the expected files
# (package_files.txt beside this script), that every ELF file in it is hardened as Debian's own
# are (PIE, RELRO, BIND_NOW, stack protector, FORTIFY), and that the symbol package holds one
# .build-id/xx/yyyy.debug file for each program, named by that program's build id.
# Usage: check_package.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
built=$("$source_dir/scripts/package" "$build_dir" | tail -n2)
symbols=$(head -n1 <<<"$built")
package=$(tail -n1 <<<"$built")
fail() { echo "check_package: $*" >&2; exit 1; }

actual=$(dpkg-deb -c "$package" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort)
expected=$(sort "$here/package_files.txt")
# Debian 12's lintian has no AppStream check, so its package carries no override for one.
release=$(. /etc/os-release && echo "${VERSION_ID:-}")
[ "$release" = 12 ] && expected=$(grep -v '^/usr/share/lintian/' <<<"$expected")
diff <(echo "$expected") <(echo "$actual") ||
    fail "$package does not hold the expected files (< expected, > found)"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$package" "$tree/package"
dpkg-deb -x "$symbols" "$tree/symbols"
expected_symbols=()
programs=0
while IFS= read -r file; do
    file -b "$file" | grep -q '^ELF' || continue
    programs=$((programs + 1))
    name=${file#"$tree/package"}
    readelf -h "$file" | grep -q 'Type: *DYN' || fail "$name is not position-independent"
    readelf -lW "$file" | grep -q 'GNU_RELRO' || fail "$name has no RELRO"
    readelf -dW "$file" | grep -qE 'BIND_NOW|FLAGS_1.*NOW' || fail "$name is not linked with BIND_NOW"
    symbols_used=$(readelf --dyn-syms -W "$file")
    grep -q '__stack_chk_fail' <<<"$symbols_used" || fail "$name has no stack protector"
    grep -qE '__[a-z]+_chk@' <<<"$symbols_used" || fail "$name has no fortified calls"
    readelf -SW "$file" | grep -q '\.debug_info' && fail "$name is not stripped"
    id=$(readelf -n "$file" | sed -n 's/.*Build ID: *\([0-9a-f]*\).*/\1/p')
    [ -n "$id" ] || fail "$name has no build id"
    expected_symbols+=("/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug")
done < <(find "$tree/package" -type f)
[ "$programs" -eq 3 ] || fail "expected 3 programs, found $programs"
found_symbols=$(cd "$tree/symbols" && find . -type f -name '*.debug' | sed 's|^\./|/|' | sort)
diff <(printf '%s\n' "${expected_symbols[@]}" | sort) <(echo "$found_symbols") ||
    fail "$symbols does not hold the programs' symbols by build id (< expected, > found)"

echo "package ok: $(basename "$package"), $(echo "$actual" | wc -l) files, $programs hardened" \
    "programs; $(basename "$symbols") matches their build ids; lintian without errors or warnings"
