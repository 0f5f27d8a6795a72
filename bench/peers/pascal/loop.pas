{ loop: s := (s + i) mod 1000003 for i := 1 to N. }
program loop;
{$mode objfpc}{$H-}{$minfpconstprec 64}
var
  n, i, s, code: longint;
begin
  n := 100000000;
  if ParamCount > 0 then Val(ParamStr(1), n, code);
  s := 0;
  for i := 1 to n do
    s := (s + i) mod 1000003;
  writeln(s);
end.
