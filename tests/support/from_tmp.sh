#!/usr/bin/env bash
# Runs a test command as if the checkout and the build tree lived under /tmp, where newcomers
# often clone: each argument that begins with SOURCE_DIR or BUILD_DIR is passed through a link
# in a fresh folder under /tmp. A test that gives itself a private /tmp must still reach them.
#   from_tmp.sh SOURCE_DIR BUILD_DIR COMMAND [ARGUMENTS...]
# Exits with the command's exit code.
set -uo pipefail
source_dir=$1
build_dir=$2
shift 2
links=$(mktemp -d /tmp/download-checkout.XXXXXX) || exit 1
trap 'rm -rf "$links"' EXIT
ln -s "$source_dir" "$links/source"
ln -s "$build_dir" "$links/build"
arguments=()
for argument in "$@"; do
    case $argument in
    "$build_dir"*) argument=$links/build${argument#"$build_dir"} ;;
    "$source_dir"*) argument=$links/source${argument#"$source_dir"} ;;
    esac
    arguments+=("$argument")
done
"${arguments[@]}"
