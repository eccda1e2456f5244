"""A raw uint8 NRRD far larger than what is written of it: a ball of graded
values (1 at its edge, up to 255 at its centre, so that its colours vary)
seeked into the middle of an otherwise empty file, which the file system
keeps as holes. The ball is made slice by slice from a formula, so the
same slices give the exact reference without reading the file back.

    write_ball(path, dims, radius) -> ball
    ball.slices() yields (z, 2-D array of the slice's rows that hold the ball)
    coarse_hollow_count(ball, resolution) is what vxlconv --threshold 1
    --resolution R --hollow writes, computed slice by slice.
"""

import numpy as np


class Ball:
    def __init__(self, dims, radius):
        self.dims = dims  # x, y, z: x fastest in the file
        self.radius = radius
        self.centre = [d // 2 for d in dims]

    def rows(self, z):
        """The first row and the rows of slice z that the ball crosses
        (None when it misses the slice), as uint8 values."""
        nx, ny, _ = self.dims
        cx, cy, cz = self.centre
        dz2 = (z - cz) ** 2
        if dz2 >= self.radius ** 2:
            return None
        half = int(np.sqrt(self.radius ** 2 - dz2))
        y0, y1 = max(0, cy - half), min(ny, cy + half + 1)
        y = np.arange(y0, y1, dtype=np.float64)[:, None]
        x = np.arange(nx, dtype=np.float64)[None, :]
        r2 = (x - cx) ** 2 + (y - cy) ** 2 + dz2
        inside = r2 < self.radius ** 2
        values = np.where(inside, 1 + 254 * (1 - np.sqrt(r2) / self.radius), 0)
        return y0, values.astype(np.uint8)

    def slices(self):
        for z in range(self.centre[2] - self.radius, self.centre[2] + self.radius + 1):
            if 0 <= z < self.dims[2]:
                rows = self.rows(z)
                if rows is not None:
                    yield z, rows[0], rows[1]


def write_ball(path, dims, radius):
    """Writes the NRRD (spacing 1, no orientation) and returns its Ball."""
    ball = Ball(dims, radius)
    nx, ny, nz = dims
    header = ("NRRD0004\ntype: uint8\ndimension: 3\nsizes: %d %d %d\nencoding: raw\n\n"
              % (nx, ny, nz)).encode()
    with open(path, "wb") as f:
        f.write(header)
        for z, y0, values in ball.slices():
            f.seek(len(header) + (z * ny + y0) * nx)
            f.write(values.tobytes())
        f.truncate(len(header) + nx * ny * nz)
    return ball


def coarse_hollow_count(ball, resolution):
    """The voxels of the coarser grid of `resolution` cells along the longest
    side of the box of the samples of at least 1, less those whose six face
    neighbours are all there: as vxlconv computes it, cube i at i (every
    coordinate here is a small integer, exact in floats)."""
    slabs = list(ball.slices())
    low = [min(int(np.nonzero(v.any(axis=0))[0].min()) for _, _, v in slabs),
           min(y0 + int(np.nonzero(v.any(axis=1))[0].min()) for _, y0, v in slabs),
           min(z for z, _, v in slabs if v.any())]
    high = [max(int(np.nonzero(v.any(axis=0))[0].max()) for _, _, v in slabs),
            max(y0 + int(np.nonzero(v.any(axis=1))[0].max()) for _, y0, v in slabs),
            max(z for z, _, v in slabs if v.any())]
    extent = [h - l + 1.0 for l, h in zip(low, high)]
    size = max(extent) / resolution
    cells = [max(1, int(np.ceil(e / size))) for e in extent]

    def cell(a, index):
        return np.clip(np.floor((index - (low[a] - 0.5)) / size).astype(np.int64), 0, cells[a] - 1)

    occupied = np.zeros((cells[2], cells[1], cells[0]), dtype=bool)
    for z, y0, values in slabs:
        ys, xs = np.nonzero(values >= 1)
        if len(xs):
            occupied[cell(2, np.array(z)), cell(1, ys + y0), cell(0, xs)] = True
    core = occupied[1:-1, 1:-1, 1:-1]
    surrounded = (occupied[:-2, 1:-1, 1:-1] & occupied[2:, 1:-1, 1:-1] &
                  occupied[1:-1, :-2, 1:-1] & occupied[1:-1, 2:, 1:-1] &
                  occupied[1:-1, 1:-1, :-2] & occupied[1:-1, 1:-1, 2:])
    hidden = np.zeros_like(occupied)
    hidden[1:-1, 1:-1, 1:-1] = core & surrounded
    return int(occupied.sum() - hidden.sum())
