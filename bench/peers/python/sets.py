# sets: a set of 0..255 as an integer bit mask (bit k = element k): union,
# intersection and membership in a loop.
import sys

FULL = (1 << 256) - 1


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 2000000
    # a := [0..9, 20..29, 40..49, 100..149]
    a = ((1 << 10) - 1) | (((1 << 10) - 1) << 20) | (((1 << 10) - 1) << 40) | (((1 << 50) - 1) << 100)
    count = 0
    for i in range(1, n + 1):
        k = i % 256
        b = a | (1 << k) | (1 << (k * 7 % 256))  # a + [k, (k * 7) mod 256]
        c = b & (FULL ^ ((1 << k) - 1))  # b * [k..255]
        if (c >> k) & 1:
            count += 1
        if (c >> (k * 3 % 256)) & 1:
            count += 2
    print(count)


main()
