-- files: N formatted lines written to a text file, read back and summed.
local n = tonumber(arg[1]) or 200000
local name = "bench_files.txt"
local f = assert(io.open(name, "w"))
for i = 1, n do
  f:write(string.format("%8d%6d%12.3f\n", i, (i % 1000) * 3, i / 8))
end
f:close()
local total, rsum = 0, 0.0
f = assert(io.open(name, "r"))
for _ = 1, n do
  local a, b, r = f:read("n", "n", "n")
  total = (total + a + b) % 1000003
  rsum = rsum + r
end
f:close()
print(total)
print(string.format("%.1f", rsum))
