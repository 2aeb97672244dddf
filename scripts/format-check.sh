#!/usr/bin/env bash
# Checks that the C++ files of a change are as clang-format (with the
# repository's .clang-format) would write them; prints what differs and
# fails when one is not.
#
#   bash scripts/format-check.sh [BASE]
#
# The change is everything from BASE to the working tree. Without BASE: from
# where this branch left origin/main (or main); on main itself, the commit
# being landed: for a merge commit, what it adds to the main it merged (its
# second parent), else the last commit.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || bash scripts/setup.sh

base=${1:-}
about=""
if [ -z "$base" ]; then
  head=$(git rev-parse HEAD)
  for ref in origin/main main; do
    git rev-parse -q --verify "$ref^{commit}" >/dev/null || continue
    fork=$(git merge-base HEAD "$ref")
    if [ "$fork" != "$head" ]; then
      base=$fork
      about="the change since this branch left $ref"
      break
    fi
  done
fi
if [ -z "$base" ]; then
  if git rev-parse -q --verify HEAD^2 >/dev/null; then
    base=HEAD^2
    about="what the merge $(git rev-parse --short HEAD) adds to the main it merged"
  elif git rev-parse -q --verify HEAD^ >/dev/null; then
    base=HEAD^
    about="the last commit, $(git rev-parse --short HEAD)"
  else
    # The first commit (or a clone without history): all of it.
    base=$(git hash-object -t tree /dev/null)
    about="every file (no earlier commit is known)"
  fi
fi
[ -n "$about" ] || about="the change since $base"

mapfile -t files < <(git diff --name-only --diff-filter=ACMR "$base" -- \
  '*.cpp' '*.cc' '*.c' '*.h' '*.hpp')
if ((${#files[@]} == 0)); then
  echo "format-check: no C++ file changed in $about"
  exit 0
fi
if ! report=$(clang-format --dry-run -Werror "${files[@]}" 2>&1); then
  echo "$report" >&2
  mapfile -t unformatted < <(sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*/\1/p' <<<"$report" | sort -u)
  echo "format-check: in $about, clang-format would change ${#unformatted[@]} file(s); format them with" >&2
  echo "  clang-format -i ${unformatted[*]}" >&2
  exit 1
fi
echo "format-check: ${#files[@]} C++ file(s) of $about are formatted"
