-- sets: a set of 0..255 as four 64-bit words (bit k of word k // 64 is
-- element k): union, intersection and membership in a loop.
local n = tonumber(arg[1]) or 2000000

local function range(lo, hi) -- the set [lo..hi]
  local s = { 0, 0, 0, 0 }
  for w = 0, 3 do
    local first, last = w * 64, w * 64 + 63
    local a, b = math.max(lo, first), math.min(hi, last)
    if a <= b then
      local width = b - a + 1
      local bits = width == 64 and -1 or ((1 << width) - 1)
      s[w + 1] = bits << (a - first)
    end
  end
  return s
end

local function union(s, t)
  return { s[1] | t[1], s[2] | t[2], s[3] | t[3], s[4] | t[4] }
end

local function inter(s, t)
  return { s[1] & t[1], s[2] & t[2], s[3] & t[3], s[4] & t[4] }
end

local function has(s, k)
  return (s[(k >> 6) + 1] >> (k & 63)) & 1 == 1
end

local a = union(union(range(0, 9), range(20, 29)), union(range(40, 49), range(100, 149)))
local count = 0
for i = 1, n do
  local k = i % 256
  local b = union(union(a, range(k, k)), range(k * 7 % 256, k * 7 % 256))
  local c = inter(b, range(k, 255))
  if has(c, k) then count = count + 1 end
  if has(c, k * 3 % 256) then count = count + 2 end
end
print(count)
