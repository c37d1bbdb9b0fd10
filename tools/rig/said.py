#!/usr/bin/env python3
"""What one `icl --json` command said, in a line: its exit status, and whether
it changed the label or, when it failed, its error and last Error line.

  said.py JSON_FILE STATUS_FILE STRIP

STRIP is text (the rig's directory) left out. Exit status 0, or 3 when the
command failed without an Error line of the library, or printed no JSON.
"""
import json
import sys


def main():
    json_file, status_file, strip = sys.argv[1:4]
    try:
        with open(status_file, encoding="utf-8") as f:
            status = f.read().strip() or "none"
    except OSError:
        status = "none (still running)"
    try:
        with open(json_file, encoding="utf-8", errors="replace") as f:
            answer = json.load(f)
    except (OSError, ValueError):
        answer = None
    if not isinstance(answer, dict):
        print("exit %s, no answer" % status)
        return 3
    if answer.get("ok"):
        print("exit %s, %s" % (status, "label changed" if answer.get("changed") else "unchanged"))
        return 0
    lines = [e.get("message", "") for e in answer.get("libraryErrors") or []]
    name = (answer.get("error") or {}).get("name", "no error name")
    text = lines[-1] if lines else "no Error line"
    print(("exit %s, %s: %s" % (status, name, text)).replace(strip, ""))
    return 0 if lines else 3


if __name__ == "__main__":
    sys.exit(main())
