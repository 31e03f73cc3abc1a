#!/usr/bin/env bash
# Makes a manual page from a program's --help and --version with help2man;
# with commands given, each command's own --help becomes a COMMANDS section.
# usage: man-page.sh PROGRAM NAME-LINE OUTPUT.1.gz [COMMAND...]
set -euo pipefail
program=$1 name=$2 output=$3
shift 3
# Run it by its bare name, so that its usage lines say "tarnwell", not the build path.
PATH="$(cd "$(dirname "$program")" && pwd):$PATH"
program=$(basename "$program")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

include=$work/include
options=()
if [ $# -gt 0 ]; then
  options=(--include="$include")
  echo '[COMMANDS]' >>"$include"
  for command in "$@"; do
    printf '.SS %s\n.nf\n' "$command" >>"$include"
    # roff: a backslash is doubled, and a line must not start with a control character.
    "$program" "$command" --help | sed -e 's/\\/\\\\/g' -e "s/^\\([.']\\)/\\\\\\&\\1/" >>"$include"
    printf '.fi\n' >>"$include"
  done
fi
help2man --no-info --section=1 --name="$name" "${options[@]}" --output="$work/page.1" "$program"
gzip -9n <"$work/page.1" >"$output"
