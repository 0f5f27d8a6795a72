# files: N formatted lines written to a text file, read back and summed.
import sys


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 200000
    name = "bench_files.txt"
    with open(name, "w") as f:
        for i in range(1, n + 1):
            f.write(f"{i:8d}{(i % 1000) * 3:6d}{i / 8:12.3f}\n")
    total = 0
    rsum = 0.0
    with open(name) as f:
        for _ in range(n):
            fields = f.readline().split()
            a = int(fields[0])
            b = int(fields[1])
            r = float(fields[2])
            total = (total + a + b) % 1000003
            rsum = rsum + r
    print(total)
    print(f"{rsum:.1f}")


main()
