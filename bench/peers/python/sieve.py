# sieve: Eratosthenes on a boolean array of N + 1 entries, 3 rounds, counting primes.
import sys


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 10000000
    flags = [False] * (n + 1)
    count = 0
    for _ in range(3):
        for i in range(n + 1):
            flags[i] = True
        flags[0] = False
        flags[1] = False
        i = 2
        while i * i <= n:
            if flags[i]:
                j = i * i
                while j <= n:
                    flags[j] = False
                    j += i
            i += 1
        for i in range(n + 1):
            if flags[i]:
                count += 1
    print(count)


main()
