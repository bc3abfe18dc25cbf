#!/usr/bin/env bash
# The generated bash completion of ocs, run as bash runs it, against ocs's
# own help: every subcommand offered at each level, a subcommand's options
# after it, option values skipped when finding the subcommand.
#
#   CompletionTest.sh OCS COMPLETION_SCRIPT
set -euo pipefail
ocs=$1
# shellcheck source=/dev/null
source "$2"

# What completes the last of the words "$@" typed after `ocs`, one a line.
offered() {
  COMP_WORDS=(ocs "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _ocs
  if ((${#COMPREPLY[@]})); then printf '%s\n' "${COMPREPLY[@]}" | sort; fi
}

# The subcommands that `ocs "$@" --help` lists.
subcommands() {
  "$ocs" "$@" --help | sed -n '/^Subcommands:/,$s/^  \([a-z][a-z-]*\) .*/\1/p' | sort
}

failures=0
expect() {
  local what=$1 actual=$2 expected=$3
  if [ "$actual" != "$expected" ]; then
    printf 'FAIL %s\n  offered:  %s\n  expected: %s\n' "$what" "${actual//$'\n'/ }" \
      "${expected//$'\n'/ }"
    failures=$((failures + 1))
  fi
}

top=$(subcommands)
[ -n "$top" ] || { echo "FAIL no subcommands in ocs --help"; exit 1; }
expect "subcommands of ocs" "$(offered '' | grep -v '^-')" "$top"
expect "subcommands of ocs pic" "$(offered pic '' | grep -v '^-')" "$(subcommands pic)"
expect "an option's value is no subcommand" "$(offered --pool pic '' | grep -v '^-')" "$top"
expect "options of get" "$(offered get --r)" "--range"
expect "settings after a subcommand" "$(offered pic put --po)" "--pool"
expect "no subcommands after pic put" "$(offered pic put '' | grep -v '^-')" ""
expect "nothing offered for an option's value" "$(offered get --range '')" ""
expect "hidden options stay hidden" "$(offered --comp)" ""

if ((failures)); then exit 1; fi
echo "bash completion: every check passed"
