#!/usr/bin/env python3
"""Writes the seed inputs of the index admission fuzzer into corpus/index_admission/.

Each seed is laid out as the fuzzer reads it: the fillers, the entries (folder, name, kind,
presence, text), then how the stored index is made. The cases are those that matter: a full
index gaining notes that sort first, edits that swap one escaped character for another, a
stored index laid out anew or with one byte changed, and stored index files as written, their
paths naming this tree's files through "users/OWNER/knowledge/".
"""
import json
import os

FOLDERS = ["attachments", "inbox", "inbox/sub", "notes"]
PIECES = ["a", "B", "0", "-", ".", "中", "\xff", "z", "_"]
EXTENSIONS = [".md", ".txt", ".MD", ".dat", ""]
TOKENS = ["a", "\\", "\"", "/", "\n", "\r\n", "\x01", "é", "中", "\t", "ß", " "]
KINDS = ["text", "notUtf8", "link", "foreignFolder", "tooLarge", "largest"]
# presence: 0 both trees, 1 only before, 2 only now, 3 both with the text edited
NONE, RELAID, FLIPPED, PRIOR, RAW = 0, 2, 3, 1, 4


def entry(folder, pieces, extension, kind, presence=0, tokens=(), edit=None):
    data = [FOLDERS.index(folder), len(pieces) - 1]
    data += [PIECES.index(p) for p in pieces]
    data += [EXTENSIONS.index(extension), KINDS.index(kind), presence]
    if kind == "text":
        data += [len(tokens)] + [TOKENS.index(t) for t in tokens]
        if presence == 3:
            data += list(edit)
    return data


def seed(fillers=None, entries=(), stored=NONE, tail=b""):
    data = []
    if fillers is None:
        data += [0, 0, len(entries)]
    else:
        size, now, before, folder = fillers
        data += [{"small": 1, "large": 3}[size], now - 990, before - 990,
                 1 if folder == "notes" else 0, len(entries)]
    for e in entries:
        data += e
    data.append(stored)
    return bytes(data) + tail


def stored_index(documents, skipped=0):
    """A stored index as this program writes it ("/" escaped, indented, keys sorted)."""
    docs = [{"relativePath": "users/OWNER/knowledge/" + path, "text": text, "title": title}
            for path, title, text in documents]
    text = json.dumps({"documents": docs, "skipped": skipped, "updatedAt": 818437302.726295},
                      indent=2, sort_keys=True, ensure_ascii=False, separators=(",", " : "))
    return (text.replace("/", "\\/") + "\n").encode()


def filler(index, size=8):
    text = f"# F{index}\n"
    return text + "f" * max(0, size - len(text))


SEEDS = {
    "empty": b"",
    "every-kind": seed(entries=[
        entry("inbox", ["a"], ".md", "text", 0, ["\\", "\"", "\x01", "中"]),
        entry("inbox", ["\xff"], ".md", "text"),
        entry("notes", [".", "a"], ".md", "text"),
        entry("attachments", ["B"], ".txt", "notUtf8"),
        entry("inbox/sub", ["z"], ".md", "link"),
        entry("notes", ["0"], ".md", "foreignFolder"),
        entry("inbox", ["_"], ".MD", "tooLarge"),
        entry("inbox", ["-"], ".md", "largest"),
        entry("inbox", ["a", "a"], ".dat", "text"),
    ]),
    "full-then-newcomers-sort-first": seed(("small", 1000, 1000, "notes"), [
        entry("attachments", ["a"], ".md", "text", 2, ["a"]),
        entry("inbox", ["0"], ".md", "text", 2, ["中"]),
        entry("notes", ["z"], ".md", "text", 0, ["a"]),
    ], PRIOR),
    "full-by-bytes-held-note-grows": seed(("large", 1000, 1000, "inbox"), [
        entry("notes", ["a"], ".md", "largest", 3),
        entry("attachments", ["B"], ".md", "text", 2, ["a", "a"]),
    ], PRIOR),
    "deleted-fillers-make-room": seed(("small", 1005, 990, "inbox"), [
        entry("attachments", ["a"], ".md", "text", 0, ["a"]),
    ], PRIOR),
    "backslash-becomes-quote": seed(entries=[
        entry("notes", ["a"], ".md", "text", 3, ["a", "\\", "a"], edit=(1, 1)),
        entry("notes", ["B"], ".md", "text", 3, ["/", "\\"], edit=(0, 0)),
    ], stored=PRIOR),
    "relaid-lacking-newest": seed(entries=[
        entry("notes", ["a"], ".md", "text", 0, ["a"]),
        entry("notes", ["z"], ".md", "text", 2, ["a"]),
    ], stored=RELAID, tail=bytes([1])),
    "relaid-text-edited": seed(entries=[
        entry("inbox", ["z"], ".md", "text", 3, ["a", "a"], edit=(0, 3)),
    ], stored=RELAID, tail=bytes([0])),
    "ten-or-more-skipped": seed(("small", 1005, 1005, "inbox"), [
        entry("notes", [p], ".md", "link") for p in ["a", "B", "0", "z", "_", "-"]
    ], PRIOR),
    "one-byte-changed": seed(entries=[
        entry("notes", ["a"], ".md", "text", 0, ["a", "ß", "a"]),
    ], stored=FLIPPED, tail=bytes([0, 90, ord("b")])),
    "stored-as-written": seed(entries=[
        entry("notes", ["a"], ".md", "text", 0, ["a"]),
    ], stored=RAW, tail=stored_index([("notes/a~0.md", "T0", "# T0\na")])),
    "stored-stale-text": seed(entries=[
        entry("notes", ["a"], ".md", "text", 0, ["\\"]),
    ], stored=RAW, tail=stored_index([("notes/a~0.md", "T0", "# T0\n\"")])),
    "stored-wrong-skip-count": seed(entries=[
        entry("notes", ["a"], ".md", "text", 0, ["a"]),
        entry("notes", ["B"], ".md", "link"),
    ], stored=RAW, tail=stored_index([("notes/a~0.md", "T0", "# T0\na")], skipped=11)),
    "stored-full-index-of-fillers": seed(("small", 1001, 1001, "notes"), [
        entry("attachments", ["a"], ".md", "text", 0, ["a"]),
    ], stored=RAW, tail=stored_index(
        [(f"notes/f{i:04d}.md", f"F{i}", filler(i)) for i in range(1, 1001)])),
}

if __name__ == "__main__":
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "index_admission")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
