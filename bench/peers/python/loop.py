# loop: s := (s + i) mod 1000003 for i := 1 to N.
import sys


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 100000000
    s = 0
    for i in range(1, n + 1):
        s = (s + i) % 1000003
    print(s)


main()
