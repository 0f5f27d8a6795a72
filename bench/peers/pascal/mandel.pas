{ mandel: escape counts on a W x H grid, at most 200 iterations, in doubles. }
program mandel;
{$mode objfpc}{$H-}{$minfpconstprec 64}
var
  w, h, x, y, k, total, code: longint;
  cr, ci, zr, zi, t: double;
begin
  w := 600;
  if ParamCount > 0 then Val(ParamStr(1), w, code);
  h := w * 2 div 3;
  total := 0;
  for y := 0 to h - 1 do
    for x := 0 to w - 1 do
    begin
      cr := x * 3.0 / w - 2.0;
      ci := y * 2.0 / h - 1.0;
      zr := 0.0;
      zi := 0.0;
      k := 0;
      while (k < 200) and (zr * zr + zi * zi <= 4.0) do
      begin
        t := zr * zr - zi * zi + cr;
        zi := 2.0 * zr * zi + ci;
        zr := t;
        k := k + 1;
      end;
      total := total + k;
    end;
  writeln(total);
end.
