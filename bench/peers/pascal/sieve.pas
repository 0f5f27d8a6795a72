{ sieve: Eratosthenes on a boolean array of N + 1 entries, 3 rounds, counting primes. }
program sieve;
{$mode objfpc}{$H-}{$minfpconstprec 64}
type
  TFlags = array[0..0] of boolean;
  PFlags = ^TFlags;
var
  n, i, j, r, count, code: longint;
  flags: PFlags;
begin
  n := 10000000;
  if ParamCount > 0 then Val(ParamStr(1), n, code);
  GetMem(flags, n + 1);
  count := 0;
  for r := 1 to 3 do
  begin
    for i := 0 to n do
      flags^[i] := true;
    flags^[0] := false;
    flags^[1] := false;
    i := 2;
    while i * i <= n do
    begin
      if flags^[i] then
      begin
        j := i * i;
        while j <= n do
        begin
          flags^[j] := false;
          j := j + i;
        end;
      end;
      i := i + 1;
    end;
    for i := 0 to n do
      if flags^[i] then
        count := count + 1;
  end;
  FreeMem(flags);
  writeln(count);
end.
