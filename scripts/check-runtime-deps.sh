#!/usr/bin/env bash
# Fails when a file from outside the tree that configuring or building the
# player, its tools and the examples reads belongs to a Debian package that
# `scripts/deps.sh --runtime` does not bring: one neither listed there, nor
# needed (Depends, Pre-Depends) by a listed one, nor on every Debian system.
#   bash scripts/check-runtime-deps.sh [BUILD]
# It configures a scratch folder the way scripts/run-example.sh does (no
# tests, no benchmarks) and takes the files its cache and build rules name
# and the pkg-config files of its modules. BUILD, a folder where the player
# was built, adds the headers the compiler read there (its *.o.d files) for
# everything outside its tests and benchmarks, when the same compiler built it.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
built=""
if [ -n "${1:-}" ]; then built=$(cd "$1" && pwd); fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cfg="$scratch/build"

# A compiler launcher (ccache) is the developer's choice, not the build's need.
if ! env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER \
    cmake -S . -B "$cfg" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TESTS=OFF -DQM_BENCH=OFF \
    >"$scratch/configure.log" 2>&1; then
  cat "$scratch/configure.log"
  echo "check-runtime-deps: configuring failed" >&2
  exit 1
fi

# A folder built with another compiler (clang for the sanitizers) read that
# compiler's headers, which the default build does not.
compiler_of() { realpath "$(grep '^CMAKE_CXX_COMPILER:' "$1/CMakeCache.txt" | cut -d= -f2-)"; }
path_pattern="/[^][ ;:\"'\\\\()\$]+"
{
  grep -E '^[^#/][^:]*:(FILEPATH|PATH|INTERNAL)=/' "$cfg/CMakeCache.txt" | cut -d= -f2- | tr ';' '\n'
  grep '^__pkg_config_arguments_' "$cfg/CMakeCache.txt" | cut -d= -f2- | tr ';' '\n' |
    grep -vE '^(REQUIRED|QUIET|IMPORTED_TARGET|GLOBAL|NO_CMAKE_PATH|NO_CMAKE_ENVIRONMENT_PATH)$' |
    while read -r module; do pkg-config --path "$module"; done
  find "$cfg" \( -name build.make -o -name link.txt -o -name flags.make -o -name Makefile.cmake \) \
    -exec grep -ohE "$path_pattern" {} + || true
  if [ -n "$built" ] && [ "$(compiler_of "$built")" = "$(compiler_of "$cfg")" ]; then
    find "$built" \( -path "$built/tests" -o -path "$built/bench" \) -prune -o \
      -name '*.o.d' -print0 | xargs -0 -r grep -ohE "$path_pattern" || true
  fi
} | sort -u >"$scratch/candidates"
: >"$scratch/paths"
while read -r path; do
  case "$path" in "$src"/* | "$scratch"/* | /proc/* | /dev/* | /sys/*) continue ;; esac
  if [ -n "$built" ] && [[ $path == "$built"/* ]]; then continue; fi
  if [ -f "$path" ]; then echo "$path" >>"$scratch/paths"; fi
done <"$scratch/candidates"

# The owner of each file: as named, else as its link resolves, else under
# the other name merged /usr gives it.
owner_of() {
  local path=$1 try
  for try in "$path" "$(realpath "$path")" "${path#/usr}" "$(realpath "$path" | sed 's|^/usr||')"; do
    [ -n "$try" ] || continue
    if dpkg-query -S "$try" 2>/dev/null | grep -F ": $try" | head -n 1 | sed 's/: .*//; s/:[a-z0-9]*//g'; then
      return 0
    fi
  done
  return 1
}
# dpkg-query -S is slow per call: one call for every file, then the few it
# did not match one by one.
tr '\n' '\0' <"$scratch/paths" | xargs -0 dpkg-query -S 2>/dev/null |
  grep -v '^diversion' >"$scratch/owners" || true
: >"$scratch/owned"
while IFS= read -r line; do
  path=${line#*: }
  pkgs=${line%%: *}
  echo "$path	$(echo "$pkgs" | sed 's/:[a-z0-9]*//g; s/, /,/g')" >>"$scratch/owned"
done <"$scratch/owners"
unowned=()
while read -r path; do
  grep -qF "$path	" "$scratch/owned" && continue
  if pkg=$(owner_of "$path") && [ -n "$pkg" ]; then
    echo "$path	$pkg" >>"$scratch/owned"
  else
    unowned+=("$path")
  fi
done <"$scratch/paths"

# What --runtime brings: its packages, those every Debian system has, and
# all they need. Of the alternatives of a dependency only the first counts:
# it is the one apt installs on a bare system.
mapfile -t listed < <(bash scripts/deps.sh --list-runtime)
failed=0
for p in "${listed[@]}"; do
  if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" != installed ]; then
    echo "check-runtime-deps: $p, listed for --runtime, is not installed (run scripts/deps.sh)" >&2
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1
dpkg-query -W -f='${db:Status-Status}\t${Package}\t${Essential}\t${Priority}\t${Pre-Depends}, ${Depends}\t${Provides}\n' |
  python3 -c '
import re, sys
deps, providers, todo = {}, {}, list(sys.argv[1:])
name = lambda text: re.sub(r"[ (].*|:.*", "", text.strip())
for line in sys.stdin:
    status, package, essential, priority, depends, provides = line.rstrip("\n").split("\t")
    if status != "installed":
        continue
    deps[package] = [name(group.split("|")[0]) for group in depends.split(",") if group.strip()]
    for virtual in provides.split(","):
        if virtual.strip():
            providers.setdefault(name(virtual), []).append(package)
    if essential == "yes" or priority == "required":
        todo.append(package)
covered = set()
while todo:
    package = todo.pop()
    if package in covered:
        continue
    covered.add(package)
    todo.extend(deps.get(package, []) + providers.get(package, []))
print("\n".join(sorted(covered)))
' "${listed[@]}" >"$scratch/covered"

count=0
while IFS='	' read -r path pkgs; do
  count=$((count + 1))
  ok=0
  for pkg in ${pkgs//,/ }; do
    if grep -qxF "$pkg" "$scratch/covered"; then ok=1; fi
  done
  if [ "$ok" -eq 0 ]; then
    echo "check-runtime-deps: $path comes from $pkgs, which scripts/deps.sh --runtime does not install" >&2
    failed=1
  fi
done < <(sort -u "$scratch/owned")
for path in "${unowned[@]}"; do
  echo "check-runtime-deps: no Debian package owns $path, which the build reads" >&2
  failed=1
done
if [ "$count" -eq 0 ]; then
  echo "check-runtime-deps: found no file the build reads from outside the tree" >&2
  failed=1
fi
if [ "$failed" -ne 0 ]; then
  echo "check-runtime-deps: add the packages above to runtime_pkgs in scripts/deps.sh" >&2
  exit 1
fi
echo "check-runtime-deps: the $count files the build reads from outside the tree all come from packages scripts/deps.sh --runtime installs"
