#!/usr/bin/env python3
"""Checks the text catalogues against the program's sources:
- po/download.pot holds exactly the texts the sources pass to Tr and TrKey (a text added to
  the program but not to the catalogue would stay English in every language);
- every language is there, and each po/LANG.po translates every text (none missing, none
  fuzzy) and passes msgfmt's checks;
- each translation keeps the text's places (%1 to %9) and, for a caption with an access key
  ("C&ancel"), has exactly one access key itself.

    catalogue_check.py SOURCE_DIR"""
import os
import re
import subprocess
import sys
import tempfile

LANGUAGES = ["de", "es", "fr", "it", "ja", "ko", "pl", "pt_BR", "ru", "zh_CN"]


def entries(po):
    """The (msgid, msgstr, fuzzy) of a .po file, the header left out, as msgfmt reads them:
    through msgcat's canonical form, one string per line."""
    text = subprocess.run(["msgcat", "--no-wrap", "--no-location", po], check=True,
                          stdout=subprocess.PIPE, text=True).stdout
    result, fuzzy, msgid = [], False, None
    for line in text.splitlines():
        if line.startswith("#,"):
            fuzzy = "fuzzy" in line
        elif line.startswith("msgid "):
            msgid = unquote(line[6:])
        elif line.startswith("msgstr ") and msgid is not None:
            if msgid:
                result.append((msgid, unquote(line[7:]), fuzzy))
            fuzzy, msgid = False, None
    return result


def unquote(quoted):
    """The text of a one-line quoted .po string, its C escapes read."""
    body, out, i = quoted.strip()[1:-1], [], 0
    escapes = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}
    while i < len(body):
        if body[i] == "\\" and i + 1 < len(body):
            out.append(escapes.get(body[i + 1], body[i: i + 2]))
            i += 2
        else:
            out.append(body[i])
            i += 1
    return "".join(out)


def places(text):
    return sorted(set(re.findall(r"%[1-9]", text)))


def access_keys(text):
    return len(re.findall(r"(?<!&)&(?!&)", text.replace("&&", "")))


def main(source):
    faults = []
    pot = os.path.join(source, "po", "download.pot")
    with tempfile.TemporaryDirectory() as work:
        fresh = os.path.join(work, "fresh.pot")
        # The sources as they stand in the folder (a clone or an export, with or without
        # changes not yet committed).
        files = sorted(os.path.relpath(os.path.join(folder, name), source)
                       for layer in ("platform", "net", "engine", "gui", "app")
                       for folder, _, names in os.walk(os.path.join(source, layer))
                       for name in names if name.endswith((".cpp", ".h")))
        subprocess.run(["xgettext", "--language=C++", "--from-code=UTF-8", "--keyword=",
                        "--keyword=Tr", "--keyword=TrKey", "--force-po", "-o", fresh] +
                       [os.path.join(source, f) for f in files], check=True,
                       stderr=subprocess.DEVNULL)
        wanted = {msgid for msgid, _, _ in entries(fresh)}
    kept = {msgid for msgid, _, _ in entries(pot)}
    for text in sorted(wanted - kept):
        faults.append("po/download.pot lacks %r: run scripts/update-catalogue" % text)
    for text in sorted(kept - wanted):
        faults.append("po/download.pot keeps %r, no longer in the program" % text)
    for code in LANGUAGES:
        po = os.path.join(source, "po", code + ".po")
        if not os.path.exists(po):
            faults.append("no catalogue po/%s.po" % code)
            continue
        check = subprocess.run(["msgfmt", "--check", "-o", os.devnull, po],
                               stderr=subprocess.PIPE, text=True)
        if check.returncode != 0:
            faults.append("po/%s.po: %s" % (code, check.stderr.strip()))
        translated = {msgid: (msgstr, fuzzy) for msgid, msgstr, fuzzy in entries(po)}
        for text in sorted(kept):
            msgstr, fuzzy = translated.get(text, ("", False))
            if not msgstr or fuzzy:
                faults.append("po/%s.po: %s %r" % (code, "fuzzy" if fuzzy else "untranslated", text))
            elif places(msgstr) != places(text):
                faults.append("po/%s.po: places %s instead of %s in %r" %
                              (code, places(msgstr), places(text), msgstr))
            elif access_keys(text) and access_keys(msgstr) != access_keys(text):
                faults.append("po/%s.po: %d access keys in %r" % (code, access_keys(msgstr), msgstr))
    for fault in faults:
        print(fault)
    print("%d texts, %d languages, %d faults" % (len(kept), len(LANGUAGES), len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
