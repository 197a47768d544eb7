#!/usr/bin/env bash
# The completions know every option qvsearch lists in its usage, complete
# --root and --data with folders only and --ext with extension lists.
#   completion_test.sh QVSEARCH COMPLETIONS_FOLDER
set -uo pipefail
qvsearch=$1 dir=$(cd "$2" && pwd)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Every option of the usage text, in each of the three files.
options=$("$qvsearch" --help | grep -oE '(^|[[ ])--?[a-z0-9][a-z0-9-]*' | sed 's/^[[ ]//' | sort -u)
[ -n "$options" ] || fail "no options read from $qvsearch --help"
for opt in $options; do
  grep -q -- "$opt\b" "$dir/qvsearch.bash" || fail "bash completion lacks $opt"
  name=${opt#-}; name=${name#-}
  if [[ $opt == --* ]]; then
    grep -qE -- "(^|['{,)])[*]?$opt[[]" "$dir/_qvsearch" || fail "zsh completion lacks $opt"
    grep -qE -- "-l $name( |$)" "$dir/qvsearch.fish" || fail "fish completion lacks $opt"
  else
    grep -qE -- "(^|['{,)])[*]?$opt[[]" "$dir/_qvsearch" || fail "zsh completion lacks $opt"
    grep -qE -- "-[so] $name( |$)" "$dir/qvsearch.fish" || fail "fish completion lacks $opt"
  fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/alpha dir" "$tmp/almanac"
touch "$tmp/alfile.txt"

# bash: run the completion function on a command line.
complete_bash() {
  bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _qvsearch
    printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$dir/qvsearch.bash" "$@"
}
[ "$(complete_bash qvsearch --ro)" = "--root" ] || fail "bash: --ro does not complete to --root"
got=$(complete_bash qvsearch --root "$tmp/al")
want=$(printf '%s\n' "$tmp/almanac" "$tmp/alpha dir" | sort)
[ "$got" = "$want" ] || fail "bash: --root completes to [$got], expected the two folders only"
got=$(complete_bash qvsearch --data "$tmp/alf")
[ -z "$got" ] || fail "bash: --data offers a file: [$got]"
got=$(complete_bash qvsearch --ext jpg,p | tr '\n' ' ')
[ "$got" = "jpg,pdf jpg,png " ] || fail "bash: --ext jpg,p completes to [$got]"
got=$(complete_bash qvsearch --ext mp | tr '\n' ' ')
[ "$got" = "mp3 mp4 " ] || fail "bash: --ext mp completes to [$got]"
got=$(complete_bash qvsearch report --co)
[ "$got" = "--count" ] || fail "bash: an option after a term completes to [$got]"

# zsh and fish: the files load; fish's answers are checked where fish is.
if command -v zsh >/dev/null; then
  zsh -n "$dir/_qvsearch" || fail "zsh: _qvsearch does not parse"
fi
if command -v fish >/dev/null; then
  got=$(cd "$tmp" && fish -c "source '$dir/qvsearch.fish'; complete -C 'qvsearch --root al'" | cut -f1 | sort | tr '\n' ' ')
  [ "$got" = "almanac/ alpha dir/ " ] || fail "fish: --root completes to [$got]"
  got=$(fish -c "source '$dir/qvsearch.fish'; complete -C 'qvsearch --ext jpg,p'" | cut -f1 | tr '\n' ' ')
  [ "$got" = "jpg,pdf jpg,png " ] || fail "fish: --ext jpg,p completes to [$got]"
  got=$(fish -c "source '$dir/qvsearch.fish'; complete -C 'qvsearch --of'" | cut -f1)
  [ "$got" = "--offline" ] || fail "fish: --of completes to [$got]"
fi

[ $failures -eq 0 ] && echo "completions: all checks passed"
exit $((failures > 0))
