{ strings: a counter's decimal text appended to a prefix, then COPY and POS on each. }
program strings;
{$mode objfpc}{$H-}{$minfpconstprec 64}
var
  n, i, total, code: longint;
  s, t, u: string;
begin
  n := 200000;
  if ParamCount > 0 then Val(ParamStr(1), n, code);
  total := 0;
  for i := 1 to n do
  begin
    Str(i, t);
    s := 'item-' + t;
    u := Copy(s, 5, 4);
    total := total + Pos('7', s) + Pos('3', u);
  end;
  writeln(total);
end.
