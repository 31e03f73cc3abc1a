#!/usr/bin/env python3
"""Makes a carving benchmark image: noise with files planted at sector starts.

    plant-carve-image.py IMAGE SIZE_MIB COUNT FRAGMENTED SAMPLES_DIR TRUTH

Each planted file is a sample file with a unique tail, so every carved file can
be matched to exactly one planted file. TRUTH gets one line per file:
offset length type sha256 fragmented(0/1).
"""
import hashlib, os, random, sys

image, size_mib, count, fragmented, samples, truth = sys.argv[1:]
size = int(size_mib) << 20
count, fragmented = int(count), int(fragmented)
rng = random.Random(20261210)
kinds = {}
for name in sorted(os.listdir(samples)):
    kind = name.rsplit('.', 1)[-1]
    kinds[kind] = open(os.path.join(samples, name), 'rb').read()


def unique(kind, data, n):
    """A variant of a sample that differs from every other planted file."""
    tag = b'tarnwell-bench-%06d' % n
    if kind == 'jpg':   # a comment segment after SOI
        return data[:2] + b'\xff\xfe' + (len(tag) + 2).to_bytes(2, 'big') + tag + data[2:]
    if kind == 'png':   # a text chunk after IHDR (CRC is not checked by carvers)
        ihdr_end = 8 + 25
        chunk = len(tag).to_bytes(4, 'big') + b'tEXt' + tag + b'\0\0\0\0'
        return data[:ihdr_end] + chunk + data[ihdr_end:]
    if kind == 'gif':   # a comment extension before the trailer
        return data[:-1] + b'\x21\xfe' + bytes([len(tag)]) + tag + b'\x00' + data[-1:]
    if kind == 'bmp':   # the reserved field tells them apart... keep it 0: vary pixels
        body = bytearray(data)
        body[-len(tag):] = tag
        return bytes(body)
    if kind == 'pdf':
        return data.replace(b'%PDF-1.4\n', b'%PDF-1.4\n%' + tag + b'\n', 1)
    if kind == 'zip':   # the archive comment is the end record's last field
        eocd = data.rfind(b'PK\x05\x06')
        return data[:eocd + 20] + len(tag).to_bytes(2, 'little') + tag
    return data + tag


with open(image, 'wb') as out:
    chunk = 64 << 20
    left = size
    while left > 0:
        out.write(rng.randbytes(min(chunk, left)))
        left -= min(chunk, left)

slot = size // count // 512 * 512
lines = []
with open(image, 'r+b') as out:
    for n in range(count):
        kind = list(kinds)[n % len(kinds)]
        data = unique(kind, kinds[kind], n)
        offset = n * slot + rng.randrange(0, max(1, (slot - 2 * len(data) - 8192) // 512)) * 512
        frag = n % max(1, count // fragmented) == 0 if fragmented else False
        out.seek(offset)
        if frag:  # two pieces with 4 KiB of noise between them
            half = len(data) // 2
            out.write(data[:half])
            out.seek(offset + half + 4096)
            out.write(data[half:])
        else:
            out.write(data)
        lines.append('%d %d %s %s %d' % (offset, len(data), kind, hashlib.sha256(data).hexdigest(), frag))
open(truth, 'w').write('\n'.join(lines) + '\n')
