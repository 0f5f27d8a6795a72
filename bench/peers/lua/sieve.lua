-- sieve: Eratosthenes on a boolean array of N + 1 entries, 3 rounds, counting primes.
local n = tonumber(arg[1]) or 10000000
local flags = {}
local count = 0
for _ = 1, 3 do
  for i = 0, n do flags[i] = true end
  flags[0] = false
  flags[1] = false
  local i = 2
  while i * i <= n do
    if flags[i] then
      local j = i * i
      while j <= n do
        flags[j] = false
        j = j + i
      end
    end
    i = i + 1
  end
  for k = 0, n do
    if flags[k] then count = count + 1 end
  end
end
print(count)
