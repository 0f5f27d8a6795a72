-- loop: s := (s + i) mod 1000003 for i := 1 to N.
local n = tonumber(arg[1]) or 100000000
local s = 0
for i = 1, n do
  s = (s + i) % 1000003
end
print(s)
