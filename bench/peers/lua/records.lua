-- records: N records (integer, real, string[20]) written to a typed file,
-- then read back at pseudo-random record numbers.
local n = tonumber(arg[1]) or 100000
local name = "bench_records.dat"
local layout = "<i4dBc20" -- id, value, name length, name bytes
local size = string.packsize(layout)
local f = assert(io.open(name, "wb"))
for i = 1, n do
  local text = "rec" .. i
  f:write(string.pack(layout, i, i * 0.5, #text, text .. string.rep("\0", 20 - #text)))
end
f:close()
local total, vsum, seed = 0, 0.0, 12345
f = assert(io.open(name, "rb"))
for _ = 1, n do
  seed = (seed * 1103 + 12345) % 1000003
  f:seek("set", (seed % n) * size)
  local ident, value, length = string.unpack(layout, f:read(size))
  total = (total + ident + length) % 1000003
  vsum = vsum + value
end
f:close()
print(total)
print(string.format("%.1f", vsum))
