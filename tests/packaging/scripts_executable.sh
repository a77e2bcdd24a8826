#!/usr/bin/env bash
# Every script that the README or the docs tell a user to run must carry its run bit in git (a
# clone takes the mode from git, not from the working copy); outside a git checkout, on disk.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root" || exit 1
scripts=$(grep -rhoE '(^|[^A-Za-z0-9_./-])(scripts|sim|tests|\.ci)/[A-Za-z0-9_./-]*(\.sh|/run)\b' \
  README.md docs sim/README.md | sed -E 's/^[^A-Za-z.]//' | sort -u)
if [ -z "$scripts" ]; then
  echo "FAIL no script named in the README or the docs"
  exit 1
fi
git_checkout=0
git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1 && git_checkout=1
fail=0
for script in $scripts; do
  if [ ! -f "$script" ]; then
    echo "FAIL $script is named in the docs but does not exist"
    fail=1
  elif [ "$git_checkout" = 1 ]; then
    mode=$(git ls-files -s -- "$script" | cut -d' ' -f1)
    if [ "$mode" != 100755 ]; then
      echo "FAIL $script has mode ${mode:-untracked} in git, not 100755"
      fail=1
    fi
  elif [ ! -x "$script" ]; then
    echo "FAIL $script is not executable"
    fail=1
  fi
done
[ "$fail" = 0 ] && echo "ok: $(echo "$scripts" | wc -l) scripts executable"
exit "$fail"
