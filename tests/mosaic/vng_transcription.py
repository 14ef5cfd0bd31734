# An independent transcription of the two-stage V.N.G. interpolation of an RGGB
# mosaic, written from the method's rules rather than from the program's code,
# for the tests to compare the program against. Stage 1: green at red and blue
# sites from the colour ratios along the directions of small gradient; stage 2:
# red and blue from weighted colour differences.
# Usage: vng_transcription.py FOLDER WIDTH HEIGHT NOISE reads FOLDER/mosaic.f32
# and writes FOLDER/ref_red.f32, ref_green.f32, ref_blue.f32 (little-endian
# float32, row by row).
import sys
import numpy as np


def cell(x, y):  # 0 red, 1 green, 2 blue
    return [[0, 1], [1, 2]][y & 1][x & 1]


def turn(o, k):  # k times 90 degrees clockwise: (dy, dx) -> (dx, -dy)
    for _ in range(k):
        o = (o[1], -o[0])
    return o


# Gradient terms (a, b, weight) of the north and north-east directions, (dy, dx).
NORTH = [((-2, 0), (0, 0), 1), ((-1, 0), (1, 0), 1), ((-1, -1), (1, -1), .5), ((-1, 1), (1, 1), .5),
         ((-2, -1), (0, -1), .5), ((-2, 1), (0, 1), .5)]
NORTH_EAST = [((-2, 2), (0, 0), 1), ((-1, 1), (1, -1), 1), ((-2, 1), (-1, 0), .5), ((-1, 0), (0, -1), .5),
              ((0, 1), (1, 0), .5), ((-1, 2), (0, 1), .5)]
# Each direction: its gradient terms, the same colour two steps away, its greens.
DIRECTIONS = []
for k in range(4):
    step, diagonal = turn((-1, 0), k), turn((-1, 1), k)
    DIRECTIONS.append(([(turn(a, k), turn(b, k), w) for a, b, w in NORTH], (2 * step[0], 2 * step[1]), [step]))
    DIRECTIONS.append(([(turn(a, k), turn(b, k), w) for a, b, w in NORTH_EAST], (2 * diagonal[0], 2 * diagonal[1]),
                       [turn(o, k) for o in ((0, 1), (-1, 2), (-1, 0), (-2, 1))]))


def green(M, noise, bias):
    G = M.copy()
    ys, xs = [a.ravel() for a in np.mgrid[2:M.shape[0] - 2, 2:M.shape[1] - 2]]
    keep = (ys & 1) == (xs & 1)  # red and blue sites of RGGB
    ys, xs = ys[keep], xs[keep]
    v = lambda o: M[ys + o[0], xs + o[1]]
    c = v((0, 0))
    g = np.array([sum(w * np.abs(v(a) - v(b)) for a, b, w in terms) for terms, _, _ in DIRECTIONS])
    threshold = g.min(0) + 0.5 * g.max(0) + noise
    num, weights = np.zeros_like(c), np.zeros_like(c)
    for d, (_, colour, greens) in enumerate(DIRECTIONS):
        q = (c + v(colour)) / 2 - bias
        taken = (g[d] <= threshold) & (q > 0)
        mean_green = sum(v(o) for o in greens) / len(greens)
        num += np.where(taken, (threshold - g[d]) * (mean_green - bias) * (c - bias) / np.where(taken, q, 1), 0)
        weights += np.where(taken, threshold - g[d], 0)
    G[ys, xs] = num / np.maximum(weights, 0.1) + bias
    return G


def weighted(M, G, x, y, samples, eps):
    """G at (x, y) plus the weighted mean of M - G over samples (x, y, factor, gap);
    the largest difference is dropped when it exceeds 1.5 times the mean."""
    w = np.array([f / (abs(G[sy, sx] - G[y, x]) + gap + eps) ** 2 for sx, sy, f, gap in samples])
    d = np.array([M[sy, sx] - G[sy, sx] for sx, sy, _, _ in samples])
    mean, big = (w * d).sum() / w.sum(), len(d) - 1 - np.argmax(d[::-1])  # the last of equal largest
    if 1.5 * mean < d[big]:
        mean = ((w * d).sum() - w[big] * d[big]) / (w.sum() - w[big])
    return G[y, x] + mean


def vng(M, noise, margin=6):
    s = max(np.float32(0.1) * (M.max() - M.min()), np.float32(1))
    bias = float(M.min() - np.float32(3) * s)
    M = M.astype(np.float64)
    G = green(M, noise, bias)
    R, B = M.copy(), M.copy()
    for y in range(margin, M.shape[0] - margin):
        for x in range(margin, M.shape[1] - margin):
            c, up, left, right, down = cell(x, y), G[y - 1, x], G[y, x - 1], G[y, x + 1], G[y + 1, x]
            if c != 1:
                (B if c == 0 else R)[y, x] = weighted(M, G, x, y, [(x + i, y + j, 1, 0) for j in (-1, 1) for i in (-1, 1)],
                                                      4 * noise)
                continue
            gap = lambda v: abs(v - G[y, x])
            row = [(x - 1, y, 1, 0), (x + 1, y, 1, 0)] + [(x + i, y + j, .5, gap(up if j < 0 else down))
                                                           for j in (-2, 2) for i in (-1, 1)]
            col = [(x, y - 1, 1, 0), (x, y + 1, 1, 0)] + [(x + i, y + j, .5, gap(left if i < 0 else right))
                                                          for i in (-2, 2) for j in (-1, 1)]
            (R if cell(x + 1, y) == 0 else B)[y, x] = weighted(M, G, x, y, row, 4 * noise)
            (R if cell(x, y + 1) == 0 else B)[y, x] = weighted(M, G, x, y, col, 4 * noise)
    return R, G, B


if __name__ == "__main__":
    folder, width, height, noise = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
    mosaic = np.fromfile(folder + "/mosaic.f32", dtype="<f4").reshape(height, width)
    for name, plane in zip(("red", "green", "blue"), vng(mosaic, noise)):
        plane.astype("<f4").tofile(f"{folder}/ref_{name}.f32")
