#!/usr/bin/env python3
"""The figures of one run of the shared-storage rig, from the `icl --json`
answers its writers and readers saved.

  tally.py OUT WRITERS ROUNDS LABEL SHOW_JSON STRIP

OUT holds writer<P> files, one line per command: "OP PATH STATUS JSON", and
a reads file, one line per `icl show --json`: "STATUS JSON". LABEL is the
final label file as the storage itself holds it, SHOW_JSON the file holding
`icl show --json` of it. STRIP is text (the run's directory) left out of error
messages so that causes group. Prints the run's report, then one line
"figures K=V ..." for the rig to add up.

Round r of writer p adds access path p*1000+r+2 and on odd rounds removes it
again, so the final label lists path 1 and every even-round path.
"""
import collections
import json
import os
import re
import sys

TORN = "ICL_ERROR_FILE_INVALID"


def parse(text):
    """The tool's JSON object, or None when it printed none (it crashed)."""
    try:
        value = json.loads(text)
    except ValueError:
        return None
    return value if isinstance(value, dict) else None


def cause(answer, strip):
    """Why a command failed: the error's name and the library's Error lines."""
    if answer is None:
        return "no answer"
    name = (answer.get("error") or {}).get("name", "no error name")
    lines = [e.get("message", "") for e in answer.get("libraryErrors") or []]
    return (name + " " + " | ".join(lines)).replace(strip, "")[:240]


def writer_results(out, strip):
    ops, failed_paths, causes = 0, set(), collections.Counter()
    for name in sorted(os.listdir(out)):
        if not re.fullmatch(r"writer\d+", name):
            continue
        with open(os.path.join(out, name), encoding="utf-8", errors="replace") as f:
            for line in f:
                op, path, status, text = (line.rstrip("\n").split(" ", 3) + [""])[:4]
                ops += 1
                if status != "0":
                    failed_paths.add(int(path))
                    causes[cause(parse(text), strip)] += 1
    return ops, failed_paths, causes


def read_results(out, strip):
    reads, torn, failures = 0, 0, collections.Counter()
    path = os.path.join(out, "reads")
    if not os.path.exists(path):
        return reads, torn, failures
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            status, text = (line.rstrip("\n").split(" ", 1) + [""])[:2]
            reads += 1
            answer = parse(text)
            if status == "0" and answer and answer.get("pool") == 3 and answer.get("cache") == 7:
                continue
            if answer and (answer.get("error") or {}).get("name") == TORN:
                torn += 1
            failures[cause(answer, strip) if status != "0" else "wrong pool or cache"] += 1
    return reads, torn, failures


def listed_paths(label):
    """The access path ids the label's bytes list, valid label or not."""
    try:
        with open(label, "rb") as f:
            text = f.read().decode("utf-8", "replace")
    except OSError:
        return set()
    return {int(m) for m in re.findall(r"^USED_BY_ACCESSPATHID: *(-?\d+)", text, re.M)}


def label_valid(show_json):
    with open(show_json, encoding="utf-8", errors="replace") as f:
        answer = parse(f.read())
    return bool(answer and answer.get("ok") and answer.get("pool") == 3 and answer.get("cache") == 7)


def lost_lines(writers, rounds, listed, failed_paths):
    missing = back = silent = 0
    for p in range(writers):
        for r in range(rounds):
            path = p * 1000 + r + 2
            if r % 2 == 0 and path not in listed:
                missing += 1
            elif r % 2 == 1 and path in listed:
                back += 1
            else:
                continue
            silent += path not in failed_paths
    if 1 not in listed:
        missing += 1
        silent += 1
    return missing, back, silent


def show_counts(title, counter):
    if counter:
        print("  " + title + ":")
        for text, n in counter.most_common(3):
            print("    %d %s" % (n, text))


def main():
    out, writers, rounds, label, show_json, strip = sys.argv[1:7]
    writers, rounds = int(writers), int(rounds)
    ops, failed_paths, causes = writer_results(out, strip)
    reads, torn, read_failures = read_results(out, strip)
    missing, back, silent = lost_lines(writers, rounds, listed_paths(label), failed_paths)
    valid = label_valid(show_json)
    failed = sum(causes.values())
    read_failed = sum(read_failures.values())
    print("lines lost %d (missing %d, back %d), silent %d; changes failed %d of %d;"
          % (missing + back, missing, back, silent, failed, ops),
          "reads failed %d of %d, torn %d; final label %s"
          % (read_failed, reads, torn, "valid" if valid else "INVALID"))
    show_counts("most frequent change errors", causes)
    show_counts("most frequent read failures", read_failures)
    print("figures lost=%d silent=%d failed=%d read_failed=%d torn=%d invalid=%d"
          % (missing + back, silent, failed, read_failed, torn, 0 if valid else 1))


if __name__ == "__main__":
    main()
