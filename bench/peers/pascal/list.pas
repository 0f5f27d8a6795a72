{ list: N records (value, next) linked with New, summed, released with Dispose; 3 rounds. }
program list;
{$mode objfpc}{$H-}{$minfpconstprec 64}
type
  PNode = ^TNode;
  TNode = record
    value: longint;
    next: PNode;
  end;
var
  n, i, r, total, code: longint;
  head, p, q: PNode;
begin
  n := 1000000;
  if ParamCount > 0 then Val(ParamStr(1), n, code);
  total := 0;
  for r := 1 to 3 do
  begin
    head := nil;
    for i := 1 to n do
    begin
      New(p);
      p^.value := i;
      p^.next := head;
      head := p;
    end;
    p := head;
    while p <> nil do
    begin
      total := (total * 31 + p^.value) mod 1000003;
      p := p^.next;
    end;
    p := head;
    while p <> nil do
    begin
      q := p^.next;
      Dispose(p);
      p := q;
    end;
  end;
  writeln(total);
end.
