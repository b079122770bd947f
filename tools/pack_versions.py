#!/usr/bin/env python3
"""A game pack of random bytes and its next versions, for scripts/bench_delta.sh.

    pack_versions.py OUT_DIR SIZE_MIB [PATTERN...]

Writes OUT_DIR/old.pak (SIZE_MIB MiB: a 64 KiB table, then assets of 16-512 KiB, all
random bytes as compressed assets are) and, for each PATTERN (all four when none is
named), OUT_DIR/PATTERN.pak:
    replaced   20 assets of 16-512 KiB replaced by new ones of other lengths
    appended   16 MiB of new assets at the end, the table at the start rewritten
    scattered  300 in-place edits of 1-4 KiB at scattered places
    unrelated  a pack of the same size with nothing in common
Prints "PATTERN NEW_BYTES SIZE" per pattern: the bytes no earlier version holds.
Every run with the same size writes the same bytes (an old.pak of that size already
there is kept, so patterns can be made one at a time). Memory stays small: a
version is a list of pieces, each either a stretch of old.pak or new random bytes.
"""
import os
import random
import sys

KIB = 1024
MIB = 1024 * KIB
TABLE = 64 * KIB
BLOCK = 1 * MIB


def random_bytes(seed, size):
    """SIZE random bytes from SEED, made a block at a time."""
    rng = random.Random(seed)
    while size > 0:
        n = min(size, BLOCK)
        yield rng.randbytes(n)
        size -= n


def old_layout(size, rng):
    """The old pack's pieces: (offset, length) of the table and of each asset."""
    assets, offset = [(0, TABLE)], TABLE
    while offset < size:
        length = min(rng.randint(16 * KIB, 512 * KIB), size - offset)
        assets.append((offset, length))
        offset += length
    return assets


# A version's pieces: ("old", offset, length) copies old.pak, ("new", seed, length)
# is fresh random bytes.
def replaced(size, assets, rng):
    chosen = set(rng.sample(range(1, len(assets) - 1), 20))
    pieces = []
    for i, (offset, length) in enumerate(assets):
        if i not in chosen:
            pieces.append(("old", offset, length))
            continue
        new_length = length
        while new_length == length:
            new_length = rng.randint(16 * KIB, 512 * KIB)
        pieces.append(("new", rng.getrandbits(64), new_length))
    return pieces


def appended(size, assets, rng):
    return [("new", rng.getrandbits(64), TABLE), ("old", TABLE, size - TABLE), ("new", rng.getrandbits(64), 16 * MIB)]


def scattered(size, assets, rng):
    # 300 places in 300 equal stretches, so no two edits overlap.
    stretch = size // 300
    pieces, offset = [], 0
    for i in range(300):
        length = rng.randint(1 * KIB, 4 * KIB)
        at = i * stretch + rng.randint(0, stretch - length)
        pieces += [("old", offset, at - offset), ("new", rng.getrandbits(64), length)]
        offset = at + length
    return pieces + [("old", offset, size - offset)]


def unrelated(size, assets, rng):
    return [("new", rng.getrandbits(64), size)]


PATTERNS = {"replaced": replaced, "appended": appended, "scattered": scattered, "unrelated": unrelated}


def write_version(path, pieces, old_path):
    with open(path + ".tmp", "wb") as out, open(old_path, "rb") as old:
        for kind, where, length in pieces:
            if kind == "new":
                for block in random_bytes(where, length):
                    out.write(block)
                continue
            old.seek(where)
            while length > 0:
                block = old.read(min(length, BLOCK))
                out.write(block)
                length -= len(block)
    os.replace(path + ".tmp", path)


def main():
    if len(sys.argv) < 3 or any(p not in PATTERNS for p in sys.argv[3:]):
        sys.exit(__doc__)
    out_dir, size = sys.argv[1], int(sys.argv[2]) * MIB
    names = sys.argv[3:] or list(PATTERNS)
    os.makedirs(out_dir, exist_ok=True)
    rng = random.Random(size)
    assets = old_layout(size, rng)
    old_path = os.path.join(out_dir, "old.pak")
    old_seed = rng.getrandbits(64)
    if not os.path.exists(old_path) or os.path.getsize(old_path) != size:  # the same size is the same bytes
        write_version(old_path, [("new", old_seed, size)], os.devnull)
    for name in names:
        pieces = PATTERNS[name](size, assets, random.Random(f"{name}/{size}"))
        write_version(os.path.join(out_dir, name + ".pak"), pieces, old_path)
        new_bytes = sum(length for kind, _, length in pieces if kind == "new")
        print(name, new_bytes, sum(length for _, _, length in pieces))


if __name__ == "__main__":
    main()
