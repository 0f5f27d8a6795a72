-- strings: a counter's decimal text appended to a prefix, then COPY and POS on each.
local n = tonumber(arg[1]) or 200000
local total = 0
for i = 1, n do
  local t = tostring(i)
  local s = "item-" .. t
  local u = string.sub(s, 5, 8) -- copy(s, 5, 4)
  total = total + (string.find(s, "7", 1, true) or 0) + (string.find(u, "3", 1, true) or 0)
end
print(total)
