# mandel: escape counts on a W x H grid, at most 200 iterations, in doubles.
import sys


def main():
    w = int(sys.argv[1]) if len(sys.argv) > 1 else 600
    h = w * 2 // 3
    total = 0
    for y in range(h):
        for x in range(w):
            cr = x * 3.0 / w - 2.0
            ci = y * 2.0 / h - 1.0
            zr = 0.0
            zi = 0.0
            k = 0
            while k < 200 and zr * zr + zi * zi <= 4.0:
                t = zr * zr - zi * zi + cr
                zi = 2.0 * zr * zi + ci
                zr = t
                k += 1
            total += k
    print(total)


main()
