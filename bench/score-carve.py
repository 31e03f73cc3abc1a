#!/usr/bin/env python3
"""Scores a carver's output folder against the planted truth.

    score-carve.py TRUTH FOLDER

exact: planted unfragmented files found byte-exact; precision: carved files
equal to some planted file, of all files carved.
"""
import hashlib, os, sys

truth, folder = sys.argv[1:]
planted = {}
for line in open(truth):
    offset, length, kind, digest, frag = line.split()
    planted[digest] = frag == '1'
carved = []
for root, _, files in os.walk(folder):
    for name in files:
        if name.endswith(('.xml', '.log')) or name == 'report.xml':
            continue
        with open(os.path.join(root, name), 'rb') as f:
            carved.append(hashlib.sha256(f.read()).hexdigest())
whole = {d for d, frag in planted.items() if not frag}
found = whole & set(carved)
good = sum(1 for d in carved if d in planted)
print('planted %d (%d unfragmented), carved %d: exact %.1f%%, precision %.1f%%' % (
    len(planted), len(whole), len(carved), 100.0 * len(found) / max(1, len(whole)), 100.0 * good / max(1, len(carved))))
