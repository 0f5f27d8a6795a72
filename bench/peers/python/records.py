# records: N records (integer, real, string[20]) written to a typed file,
# then read back at pseudo-random record numbers.
import struct
import sys

RECORD = struct.Struct("<idB20s")  # id, value, name length, name bytes


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 100000
    name = "bench_records.dat"
    with open(name, "wb") as f:
        for i in range(1, n + 1):
            text = ("rec" + str(i)).encode()
            f.write(RECORD.pack(i, i * 0.5, len(text), text))
    total = 0
    vsum = 0.0
    seed = 12345
    with open(name, "rb") as f:
        for _ in range(n):
            seed = (seed * 1103 + 12345) % 1000003
            f.seek((seed % n) * RECORD.size)
            ident, value, length, _text = RECORD.unpack(f.read(RECORD.size))
            total = (total + ident + length) % 1000003
            vsum = vsum + value
    print(total)
    print(f"{vsum:.1f}")


main()
