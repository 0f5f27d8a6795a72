{ files: N formatted lines written to a text file, read back and summed. }
program files;
{$mode objfpc}{$H-}{$minfpconstprec 64}
var
  n, i, a, b, total, code: longint;
  r, rsum: double;
  f: text;
begin
  n := 200000;
  if ParamCount > 0 then Val(ParamStr(1), n, code);
  Assign(f, 'bench_files.txt');
  Rewrite(f);
  for i := 1 to n do
    writeln(f, i:8, (i mod 1000) * 3:6, i / 8:12:3);
  Close(f);
  total := 0;
  rsum := 0.0;
  Reset(f);
  for i := 1 to n do
  begin
    readln(f, a, b, r);
    total := (total + a + b) mod 1000003;
    rsum := rsum + r;
  end;
  Close(f);
  writeln(total);
  writeln(rsum:0:1);
end.
