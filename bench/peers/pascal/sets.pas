{ sets: a set of 0..255: union, intersection and membership in a loop. }
program sets;
{$mode objfpc}{$H-}{$minfpconstprec 64}
type
  TByteSet = set of 0..255;
var
  n, i, k, count, code: longint;
  a, b, c: TByteSet;
begin
  n := 2000000;
  if ParamCount > 0 then Val(ParamStr(1), n, code);
  a := [0..9, 20..29, 40..49, 100..149];
  count := 0;
  for i := 1 to n do
  begin
    k := i mod 256;
    b := a + [k, (k * 7) mod 256];
    c := b * [k..255];
    if k in c then
      count := count + 1;
    if ((k * 3) mod 256) in c then
      count := count + 2;
  end;
  writeln(count);
end.
