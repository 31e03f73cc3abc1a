#!/usr/bin/env python3
"""Small HFS+ and HFSX volumes for Tarnwell's tests, written from Apple's TN1150.

  hfsplus-gen.py build OUT [--hfsx]   a 1 MiB volume with the cases no tool makes
  hfsplus-gen.py cut-apm IMAGE OUT    the Apple_HFS partition of an APM disk

The volume: 4 KiB blocks and nodes; a catalog of two extents (an index node
over three leaves whose chain crosses the gap); a file of ten extents (two in
the extents overflow tree) whose resource fork also continues there; zlib
files compressed inline and in the resource fork (decmpfs types 3 and 4); a
hard link pair through the private folder; a file with a resource fork; an
empty file; and, in a node the header's map marks free, a stale leaf holding
a deleted file and an old name for a live one. With --hfsx: signature 'HX',
binary key compare, and two names differing only in case.
"""
import struct
import sys
import zlib

BLOCK = 4096
NODE = 4096
TOTAL_BLOCKS = 256
HFS_EPOCH = 2082844800
T0 = 1717239660 + HFS_EPOCH  # 2024-06-01 11:01:00 UTC
PRIVATE = "\0\0\0\0HFS+ Private Data"


def pattern(size, seed):
    out = bytearray()
    n = seed
    while len(out) < size:
        out += b"%d\n" % n
        n += 7
    return bytes(out[:size])


class Volume:
    def __init__(self, hfsx):
        self.hfsx = hfsx
        self.image = bytearray(BLOCK * TOTAL_BLOCKS)
        self.used = set()
        self.next_free = 40
        self.next_id = 16
        self.records = []      # (key tuple, key bytes, record bytes)
        self.overflow = []     # (file id, fork type, start block, extents)
        self.attributes = []   # (file id, name, data)
        self.files = self.folders = 0

    def use(self, block, count=1):
        for b in range(block, block + count):
            self.used.add(b)

    def put(self, block, data):
        self.image[block * BLOCK:block * BLOCK + len(data)] = data
        self.use(block, (len(data) + BLOCK - 1) // BLOCK or 1)

    def alloc(self, data):
        """Contiguous blocks for data; returns the one extent."""
        count = (len(data) + BLOCK - 1) // BLOCK
        start = self.next_free
        self.next_free += count
        self.put(start, data)
        return [(start, count)] if count else []

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    # Catalog keys sort by parent, then name: binary on HFSX; case-folded on
    # HFS+, where a NUL unit folds to 0xFFFF and so sorts last.
    def sort_name(self, name):
        if self.hfsx:
            return name.encode("utf-16-be")
        return b"".join(b"\xff\xff" if c == "\0" else c.lower().encode("utf-16-be") for c in name)

    def cat_key(self, parent, name):
        units = name.encode("utf-16-be")
        return struct.pack(">HIH", 6 + len(units), parent, len(units) // 2) + units

    def add_record(self, parent, name, record):
        self.records.append(((parent, self.sort_name(name)), self.cat_key(parent, name), record))

    def thread(self, cnid, kind, parent, name):
        units = name.encode("utf-16-be")
        self.add_record(cnid, "", struct.pack(">HHIH", kind, 0, parent, len(units) // 2) + units)

    @staticmethod
    def fork(size, extents, total=None):
        ext = list(extents) + [(0, 0)] * (8 - len(extents))
        total = sum(c for _, c in extents) if total is None else total
        return struct.pack(">QII", size, 0, total) + b"".join(struct.pack(">II", s, c) for s, c in ext[:8])

    def folder(self, parent, name, cnid=None, thread=True):
        cnid = cnid or self.new_id()
        rec = struct.pack(">HHII", 1, 0, 0, cnid) + struct.pack(">IIIII", T0, T0, T0, T0, 0)
        rec += struct.pack(">IIBBHI", 0, 0, 0, 0, 0o40755, 0) + bytes(32) + struct.pack(">II", 0, 0)
        self.add_record(parent, name, rec)
        if thread:
            self.thread(cnid, 3, parent, name)
        self.folders += 1
        return cnid

    def file_record(self, cnid, data_fork, rsrc_fork=None, mtime=T0, owner_flags=0, special=0,
                    ftype=b"\0\0\0\0", creator=b"\0\0\0\0"):
        rec = struct.pack(">HHII", 2, 0, 0, cnid) + struct.pack(">IIIII", T0, mtime, T0 + 60, T0 + 120, 0)
        rec += struct.pack(">IIBBHI", 0, 0, 0, owner_flags, 0o100644, special)
        rec += ftype + creator + bytes(8) + bytes(16) + struct.pack(">II", 0, 0)
        rec += data_fork + (rsrc_fork or self.fork(0, []))
        assert len(rec) == 248
        return rec

    def file(self, parent, name, data=b"", rsrc=None, mtime=T0, **kw):
        cnid = kw.pop("cnid", None) or self.new_id()
        data_fork = self.fork(len(data), self.alloc(data))
        rsrc_fork = self.fork(len(rsrc), self.alloc(rsrc)) if rsrc else None
        self.add_record(parent, name, self.file_record(cnid, data_fork, rsrc_fork, mtime, **kw))
        self.thread(cnid, 4, parent, name)
        self.files += 1
        return cnid

    # B-trees ---------------------------------------------------------------
    @staticmethod
    def node(flink, blink, kind, height, records):
        body = bytearray(struct.pack(">IIbBHH", flink, blink, kind, height, len(records), 0))
        offsets = []
        for r in records:
            offsets.append(len(body))
            body += r
            if len(body) % 2:
                body += b"\0"
        offsets.append(len(body))
        table = b"".join(struct.pack(">H", o) for o in reversed(offsets))
        assert len(body) + len(table) <= NODE, "node overflow"
        return bytes(body) + bytes(NODE - len(body) - len(table)) + table

    @staticmethod
    def header_node(depth, root, leaf_records, first, last, max_key, total, used_nodes, compare, attrs):
        free = total - len(used_nodes)
        hdr = struct.pack(">HIIIIHHIIHIBBI", depth, root, leaf_records, first, last, NODE, max_key, total, free,
                          0, NODE, 0, compare, attrs) + bytes(64)
        bitmap = bytearray(NODE - 14 - 106 - 128 - 8)
        for n in used_nodes:
            bitmap[n // 8] |= 0x80 >> (n % 8)
        return Volume.node(0, 0, 1, 0, [hdr, bytes(128), bytes(bitmap)])

    def pack_leaves(self, items, capacity=NODE - 14 - 40):
        """items: (sort key, record bytes) sorted; split into leaves."""
        leaves, current, size = [], [], 0
        for key, rec in items:
            need = len(rec) + (len(rec) % 2) + 2
            if current and size + need > capacity:
                leaves.append(current)
                current, size = [], 0
            current.append((key, rec))
            size += need
        if current:
            leaves.append(current)
        return leaves

    def build_tree(self, items, max_key, compare, attrs, node_numbers, index_key):
        """Writes leaves (and one index node when needed) into node_numbers; returns nodes by number."""
        leaves = self.pack_leaves(items)
        nodes = {}
        if len(leaves) == 1:
            leaf_numbers, root, depth = [node_numbers[1]], node_numbers[1], 1
        else:
            root, leaf_numbers, depth = node_numbers[1], node_numbers[2:2 + len(leaves)], 2
            index = [index_key(leaf[0]) + struct.pack(">I", n) for leaf, n in zip(leaves, leaf_numbers)]
            nodes[root] = self.node(0, 0, 0, 2, index)
        for i, (leaf, n) in enumerate(zip(leaves, leaf_numbers)):
            flink = leaf_numbers[i + 1] if i + 1 < len(leaves) else 0
            blink = leaf_numbers[i - 1] if i > 0 else 0
            nodes[n] = self.node(flink, blink, -1, 1, [rec for _, rec in leaf])
        used = [0] + sorted(nodes)
        total = len(node_numbers)
        nodes[0] = self.header_node(depth, root, len(items), leaf_numbers[0], leaf_numbers[-1], max_key, total, used,
                                    compare, attrs)
        return nodes

    def write_fork_nodes(self, nodes, extents):
        blocks = [b for s, c in extents for b in range(s, s + c)]
        for n, data in nodes.items():
            self.put(blocks[n], data)


def build(out, hfsx):
    v = Volume(hfsx)
    root = 2
    v.folder(1, "Tarnwell HFS", cnid=root)
    v.file(root, "readme.txt", b"the first file\n", mtime=T0 + 3600)
    if hfsx:
        v.file(root, "README.txt", b"THE SAME NAME IN CAPITALS\n", mtime=T0 + 7200)
    v.file(root, "empty.txt", b"")
    sub = v.folder(root, "dir")
    v.file(sub, "nested.txt", pattern(5000, 3))

    # Ten single-block extents, every other block: eight in the record, two in
    # the overflow tree; the resource fork of nine blocks continues there too.
    frag_id = v.new_id()
    data = pattern(10 * BLOCK - 100, 11)
    starts = [v.next_free + 2 * i for i in range(10)]
    for i, s in enumerate(starts):
        v.put(s, data[i * BLOCK:(i + 1) * BLOCK])
    v.next_free = starts[-1] + 1
    rsrc = pattern(9 * BLOCK - 10, 12)
    rstarts = [v.next_free + 2 * i for i in range(9)]
    for i, s in enumerate(rstarts):
        v.put(s, rsrc[i * BLOCK:(i + 1) * BLOCK])
    v.next_free = rstarts[-1] + 1
    dfork = v.fork(len(data), [(s, 1) for s in starts[:8]], total=10)
    rfork = v.fork(len(rsrc), [(s, 1) for s in rstarts[:8]], total=9)
    v.add_record(root, "fragmented.bin", v.file_record(frag_id, dfork, rfork))
    v.thread(frag_id, 4, root, "fragmented.bin")
    v.files += 1
    v.overflow.append((frag_id, 0x00, 8, [(starts[8], 1), (starts[9], 1)]))
    v.overflow.append((frag_id, 0xFF, 8, [(rstarts[8], 1)]))

    # A file with a resource fork of its own.
    v.file(root, "withrsrc.txt", b"data fork\n", rsrc=b"resource fork bytes\n" * 50)

    # decmpfs: type 3 inline, type 4 in the resource fork (64 KiB blocks).
    text = pattern(3000, 21)
    cid = v.new_id()
    v.add_record(root, "inline.txt", v.file_record(cid, v.fork(0, []), owner_flags=0x20))
    v.thread(cid, 4, root, "inline.txt")
    v.files += 1
    v.attributes.append((cid, "com.apple.decmpfs", struct.pack("<4sIQ", b"fpmc", 3, len(text)) + zlib.compress(text, 9)))
    big = pattern(150000, 22)
    chunks = [zlib.compress(big[i:i + 65536], 9) for i in range(0, len(big), 65536)]
    table = struct.pack("<I", len(chunks))
    at = 4 + 8 * len(chunks)
    for c in chunks:
        table += struct.pack("<II", at, len(c))
        at += len(c)
    body = table + b"".join(chunks)
    res = struct.pack(">IIII", 0x100, 0x100 + 4 + len(body), 4 + len(body), 50) + bytes(0x100 - 16)
    res += struct.pack(">I", len(body)) + body + bytes(50)
    zid = v.new_id()
    rfork = v.fork(len(res), v.alloc(res))
    v.add_record(root, "compressed.txt", v.file_record(zid, v.fork(0, []), rfork, owner_flags=0x20))
    v.thread(zid, 4, root, "compressed.txt")
    v.files += 1
    v.attributes.append((zid, "com.apple.decmpfs", struct.pack("<4sIQ", b"fpmc", 4, len(big))))

    # A hard link pair: the data lives in iNode<N> of the private folder.
    priv = v.folder(root, PRIVATE)
    inode = v.new_id()
    v.file(priv, "iNode%d" % inode, b"shared by two names\n", cnid=inode, special=2, mtime=T0 + 86400)
    for parent, name in ((root, "link1.txt"), (sub, "link2.txt")):
        lid = v.new_id()
        rec = v.file_record(lid, v.fork(0, []), special=inode, ftype=b"hlnk", creator=b"hfs+")
        v.add_record(parent, name, rec)
        v.thread(lid, 4, parent, name)
        v.files += 1

    # Data of the deleted file the stale leaf names.
    gone_extent = v.alloc(b"this file was deleted\n")
    old_extent = v.alloc(b"an older readme\n")

    # Catalog: blocks 6-9 and 20-23, eight nodes.
    cat_extents = [(6, 4), (20, 4)]
    items = sorted(((k, key + rec) for k, key, rec in v.records), key=lambda x: x[0])
    cat_nodes = v.build_tree(items, 516, 0xBC if hfsx else 0xCF, 6, list(range(8)),
                             lambda first: bytes(first[1][:2 + struct.unpack(">H", first[1][:2])[0]]))
    # The stale leaf, in a node the map says is free and no link reaches.
    stale = [v.cat_key(root, "deleted.txt") + v.file_record(300, v.fork(22, gone_extent), mtime=T0 - 86400),
             v.cat_key(root, "oldname.txt") + v.file_record(16, v.fork(16, old_extent))]
    stale_number = max(cat_nodes) + 1
    assert stale_number < 8
    cat_nodes[stale_number] = v.node(0, 0, -1, 1, stale)
    v.write_fork_nodes(cat_nodes, cat_extents)

    # Extents overflow tree: blocks 2-3; keys sort by file ID, fork type, start.
    ov = sorted(v.overflow, key=lambda o: (o[0], o[1], o[2]))
    ov_items = [((fid, ft, sb), struct.pack(">HBBII", 10, ft, 0, fid, sb) +
                 b"".join(struct.pack(">II", s, c) for s, c in (ext + [(0, 0)] * 8)[:8])) for fid, ft, sb, ext in ov]
    ext_nodes = v.build_tree(ov_items, 10, 0, 2, [0, 1], None)
    v.write_fork_nodes(ext_nodes, [(2, 2)])

    # Attributes tree: blocks 4-5.
    at_items = []
    for fid, name, data in sorted(v.attributes):
        units = name.encode("utf-16-be")
        key = struct.pack(">HHIIH", 12 + len(units), 0, fid, 0, len(units) // 2) + units
        at_items.append(((fid, units), key + struct.pack(">IQI", 0x10, 0, len(data)) + data))
    at_nodes = v.build_tree(at_items, 266, 0, 6, [0, 1], None)
    v.write_fork_nodes(at_nodes, [(4, 2)])

    # Allocation file: block 1.
    v.use(0)
    v.use(1)
    v.use(TOTAL_BLOCKS - 1)
    for s, c in cat_extents:
        v.use(s, c)
    bitmap = bytearray(BLOCK)
    for b in v.used:
        bitmap[b // 8] |= 0x80 >> (b % 8)
    v.put(1, bytes(bitmap))

    hdr = struct.pack(">2sHI4sI", b"HX" if hfsx else b"H+", 5 if hfsx else 4, 0x100, b"TNWL", 0)
    hdr += struct.pack(">IIII", T0, T0, 0, T0)
    hdr += struct.pack(">IIIIIIIII", v.files, v.folders, BLOCK, TOTAL_BLOCKS, TOTAL_BLOCKS - len(v.used),
                       v.next_free, BLOCK, BLOCK, max(v.next_id, 301))
    hdr += struct.pack(">IQ", 1, 1) + bytes(32)
    hdr += v.fork(BLOCK, [(1, 1)])
    hdr += v.fork(2 * NODE, [(2, 2)])
    hdr += v.fork(8 * NODE, cat_extents)
    hdr += v.fork(2 * NODE, [(4, 2)])
    hdr += v.fork(0, [])
    assert len(hdr) == 512
    v.image[1024:1536] = hdr
    v.image[len(v.image) - 1024:len(v.image) - 512] = hdr
    with open(out, "wb") as f:
        f.write(v.image)


def cut_apm(image, out):
    with open(image, "rb") as f:
        disk = f.read()
    count = struct.unpack(">I", disk[512 + 4:512 + 8])[0]
    for i in range(1, count + 1):
        e = disk[512 * i:512 * (i + 1)]
        if e[:2] != b"PM":
            break
        start, length = struct.unpack(">II", e[8:16])
        if e[48:80].rstrip(b"\0") == b"Apple_HFS":
            with open(out, "wb") as f:
                f.write(disk[start * 512:(start + length) * 512])
            return
    sys.exit("no Apple_HFS partition in " + image)


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "build":
        build(sys.argv[2], "--hfsx" in sys.argv[3:])
    elif len(sys.argv) == 4 and sys.argv[1] == "cut-apm":
        cut_apm(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
