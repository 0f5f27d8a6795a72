-- list: N records (value, next) linked, summed, released; 3 rounds.
local n = tonumber(arg[1]) or 1000000
local total = 0
for _ = 1, 3 do
  local head = nil
  for i = 1, n do
    head = { value = i, next = head }
  end
  local p = head
  while p do
    total = (total * 31 + p.value) % 1000003
    p = p.next
  end
  -- Release node by node, as the Pascal program disposes them.
  p = head
  head = nil
  while p do
    local q = p.next
    p.next = nil
    p = q
  end
end
print(total)
