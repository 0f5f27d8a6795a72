-- mandel: escape counts on a W x H grid, at most 200 iterations, in doubles.
local w = tonumber(arg[1]) or 600
local h = w * 2 // 3
local total = 0
for y = 0, h - 1 do
  for x = 0, w - 1 do
    local cr = x * 3.0 / w - 2.0
    local ci = y * 2.0 / h - 1.0
    local zr, zi, k = 0.0, 0.0, 0
    while k < 200 and zr * zr + zi * zi <= 4.0 do
      local t = zr * zr - zi * zi + cr
      zi = 2.0 * zr * zi + ci
      zr = t
      k = k + 1
    end
    total = total + k
  end
end
print(total)
