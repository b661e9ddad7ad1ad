#!/usr/bin/env bash
# The language of the texts: chosen from LC_ALL, LC_MESSAGES and LANG in that order, or by the
# Language parameter before them; English for a language without a catalogue. Checked on the
# console's syntax message (no display, nothing fetched); with --wine the Windows program,
# whose system language wine takes from the locale it starts in (one wine server each).
#   language_test.sh PROGRAM [--wine WINE_RUN WORK_DIR]
set -uo pipefail
program=$1
run=()
if [ "${2:-}" = "--wine" ]; then
    command -v wine >/dev/null || { echo "SKIP: no wine"; exit 77; }
    run=("$3")
    export WINEPREFIX=$4/prefix
    rm -rf "$4"
    mkdir -p "$4"
fi
failures=0
# Each row: the environment, the parameter (or -), the start of the message expected.
check() {
    local environment=$1 parameter=$2 expected=$3 output
    local arguments=(notaurl)
    [ "$parameter" != - ] && arguments+=("$parameter")
    [ ${#run[@]} -gt 0 ] && wineserver -k >/dev/null 2>&1
    output=$(env -u DISPLAY -u WAYLAND_DISPLAY -u LC_ALL -u LC_MESSAGES -u LANG $environment \
        timeout 120 "${run[@]}" "$program" "${arguments[@]}" 2>&1 </dev/null | head -1 | tr -d "\r")
    if [ "$output" != "$expected" ]; then
        echo "FAILED: $environment $parameter: \"$output\", not \"$expected\""
        failures=$((failures + 1))
    fi
}
german="Ungültige Befehlszeilensyntax."
french="Syntaxe de ligne de commande incorrecte."
japanese="コマンド ラインの構文が正しくありません。"
english="Incorrect command line syntax."
if [ ${#run[@]} -eq 0 ]; then
    check "LANG=de_DE.UTF-8" - "$german"
    check "LANG=de_DE.UTF-8 LC_MESSAGES=ja_JP.UTF-8" - "$japanese"
    check "LANG=de_DE.UTF-8 LC_MESSAGES=ja_JP.UTF-8 LC_ALL=fr_FR.UTF-8" - "$french"
    check "LANG=zh_TW.UTF-8" - "$english"
    check "LANG=C" - "$english"
    check "LANG=de_DE.UTF-8" Language:fr "$french"
    check "LANG=de_DE.UTF-8" language:EN "$english"
    check "LANG=de_DE.UTF-8" Language:tlh "$english"
else
    check "LANG=de_DE.UTF-8" - "$german"
    check "LANG=ja_JP.UTF-8" - "$japanese"
    check "LANG=de_DE.UTF-8" Language:fr "$french"
fi
[ ${#run[@]} -gt 0 ] && wineserver -k >/dev/null 2>&1
[ $failures -eq 0 ] && echo "PASSED" || exit 1
