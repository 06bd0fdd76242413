#!/usr/bin/env python3
"""Reference values of J0, J1, J2 for the toolkit's Bessel tests, by mpmath
at 30 significant digits.

Writes a CSV with a header and rows  x, J0(x), J1(x), J2(x), zero_of  where
zero_of is n when x is one of the doubles nearest a zero of Jn (else -1).
The arguments cover 0 < x <= 1e4: small (< 2), medium (2 to 40), large, the
ends of the polynomial pieces below 40, and the doubles next to the zeros of
each function.

Usage: python3 tools/bessel_reference.py OUT.csv [COUNT [SEED [JOBS]]]
The committed tests/data/bessel_reference.csv is COUNT 3000, SEED 1.
"""
import math
import random
import sys
from multiprocessing import Pool

import mpmath as mp

mp.mp.dps = 30
LIMIT = 1e4


def arguments(count, seed):
    rng = random.Random(seed)
    xs = []
    for _ in range(count * 15 // 100):                       # small, spread over decades
        xs.append(('x', 10 ** rng.uniform(-8, math.log10(2))))
    xs += [('x', rng.uniform(0, 2)) for _ in range(count * 5 // 100)]
    xs += [('x', rng.uniform(2, 40)) for _ in range(count * 25 // 100)]
    xs += [('x', 10 ** rng.uniform(math.log10(40), 4)) for _ in range(count * 15 // 100)]
    xs += [('x', rng.uniform(40, LIMIT)) for _ in range(count * 10 // 100)]
    for k in range(1, 81):                                   # the polynomial pieces' ends
        e = 0.5 * k
        xs += [('x', math.nextafter(e, 0)), ('x', e), ('x', math.nextafter(e, math.inf))]
    while len(xs) < count:                                   # next to the zeros
        n = rng.randrange(3)
        top = int(LIMIT / math.pi) - 2
        k = rng.randrange(1, 16) if rng.random() < 0.3 else rng.randrange(1, top)
        steps = rng.randrange(3) * (1 if rng.random() < 0.5 else -1)
        xs.append((n, (k, steps)))
    return xs


def next_to_zero(n, k, steps):
    """The double nearest the k-th zero of Jn, moved by `steps` doubles."""
    z = float(mp.besseljzero(n, k))
    for _ in range(abs(steps)):
        z = math.nextafter(z, math.inf if steps > 0 else -math.inf)
    return z


def row(item):
    tag, x = item
    if tag != 'x':
        x = next_to_zero(tag, *x)
    v = [mp.besselj(n, mp.mpf(x)) for n in range(3)]
    zero_of = tag if tag != 'x' else -1
    return f"{x!r},{mp.nstr(v[0], 22)},{mp.nstr(v[1], 22)},{mp.nstr(v[2], 22)},{zero_of}\n"


def main():
    out = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    jobs = int(sys.argv[4]) if len(sys.argv) > 4 else 1
    xs = arguments(count, seed)
    with Pool(jobs) as pool, open(out, 'w') as f:
        f.write('x,j0,j1,j2,zero_of\n')
        for line in pool.imap(row, xs, chunksize=64):
            f.write(line)


if __name__ == '__main__':
    main()
