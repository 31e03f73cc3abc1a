#!/usr/bin/env python3
"""Fills an empty FAT32 volume (made by mkfs.fat) with a tree of many small files.

mtools needs minutes for ten thousand files (it searches the table and the
folder for every one); this writes the same structures directly: folders of
PER_FOLDER files each under the root, every file and folder with a long name
(two slots) and a unique 8.3 name, one cluster of data per file, both FATs and
the FSInfo counts kept right, the root's label kept. `fsck.fat -n` accepts
the result.

    make-fat32-tree.py IMAGE FILES [PER_FOLDER]
"""
import struct
import sys

DATE = ((2024 - 1980) << 9) | (6 << 5) | 1
TIME = (12 << 11) | (30 << 5)
EOC = 0x0FFFFFFF


def checksum(short11):
    s = 0
    for b in short11:
        s = (((s & 1) << 7) + (s >> 1) + b) & 0xFF
    return s


def dirent(short11, attr, cluster, size):
    return struct.pack('<11sBBBHHHHHHHI', short11, attr, 0, 0, TIME, DATE, DATE,
                       cluster >> 16, TIME, DATE, cluster & 0xFFFF, size)


def lfn_slots(name, short11):
    units = name.encode('utf-16-le')
    units = [units[i:i + 2] for i in range(0, len(units), 2)] + [b'\0\0']
    count = (len(units) - 1 + 12) // 13
    units += [b'\xff\xff'] * (count * 13 - len(units))
    chk = checksum(short11)
    slots = []
    for k in range(count, 0, -1):
        part = units[(k - 1) * 13:k * 13]
        seq = k | (0x40 if k == count else 0)
        slots.append(struct.pack('<B10sBBB12sH4s', seq, b''.join(part[0:5]), 0x0F, 0, chk,
                                 b''.join(part[5:11]), 0, b''.join(part[11:13])))
    return b''.join(slots)


def main():
    image, files = sys.argv[1], int(sys.argv[2])
    per = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
    with open(image, 'rb') as f:
        data = bytearray(f.read())
    bps, spc, res, nfats = struct.unpack_from('<HBHB', data, 11)
    total, spf = struct.unpack_from('<II', data, 32)
    root_cluster = struct.unpack_from('<I', data, 44)[0]
    fsinfo = struct.unpack_from('<H', data, 48)[0]
    cs = bps * spc
    fat_off = res * bps
    data_off = (res + nfats * spf) * bps
    clusters = (total - res - nfats * spf) // spc
    fat = memoryview(data)[fat_off:fat_off + spf * bps].cast('I')
    state = {'next': root_cluster + 1}

    def alloc(n):
        first = state['next']
        if first + n > clusters + 2:
            sys.exit('the volume is too small')
        for c in range(first, first + n - 1):
            fat[c] = c + 1
        fat[first + n - 1] = EOC
        state['next'] += n
        return first

    def put(cluster, payload):
        at = data_off + (cluster - 2) * cs
        data[at:at + len(payload)] = payload

    # Keep what mkfs.fat put into the root (the volume label).
    at = data_off + (root_cluster - 2) * cs
    kept = b''
    while len(kept) < cs and data[at + len(kept)] != 0:
        kept += bytes(data[at + len(kept):at + len(kept) + 32])
    folders = (files + per - 1) // per
    root = [kept]
    made = 0
    for d in range(folders):
        n = min(per, files - made)
        short = b'FOLD%04d   ' % d
        entries = []
        file_clusters = []
        for i in range(n):
            fshort = b'F%07dTXT' % (made + i)
            body = b'file %d of folder %d, written for the benchmark\n' % (made + i, d)
            c = alloc(1)
            put(c, body)
            entries.append(lfn_slots('Document number %06d.txt' % (made + i), fshort) +
                           dirent(fshort, 0x20, c, len(body)))
        dir_bytes = 2 * 32 + sum(len(e) for e in entries)
        dc = alloc((dir_bytes + cs - 1) // cs)
        put(dc, dirent(b'.          ', 0x10, dc, 0) + dirent(b'..         ', 0x10, 0, 0) + b''.join(entries))
        root.append(lfn_slots('Folder %05d' % d, short) + dirent(short, 0x10, dc, 0))
        made += n
    root_bytes = b''.join(root)
    need = (len(root_bytes) + cs - 1) // cs
    if need > 1:
        rest = alloc(need - 1)
        fat[root_cluster] = rest
    chain = [root_cluster] + list(range(state['next'] - need + 1, state['next'])) if need > 1 else [root_cluster]
    for i, c in enumerate(chain):
        put(c, root_bytes[i * cs:(i + 1) * cs])
    fat.release()
    # Second FAT = first; FSInfo counts.
    for k in range(1, nfats):
        data[fat_off + k * spf * bps:fat_off + (k + 1) * spf * bps] = data[fat_off:fat_off + spf * bps]
    used = state['next'] - 2
    struct.pack_into('<II', data, fsinfo * bps + 488, clusters - used, state['next'])
    with open(image, 'r+b') as f:
        f.write(data)


if __name__ == '__main__':
    main()
