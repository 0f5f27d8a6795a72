# strings: a counter's decimal text appended to a prefix, then COPY and POS on each.
import sys


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 200000
    total = 0
    for i in range(1, n + 1):
        t = str(i)
        s = "item-" + t
        u = s[4:8]  # copy(s, 5, 4)
        total = total + (s.find("7") + 1) + (u.find("3") + 1)
    print(total)


main()
