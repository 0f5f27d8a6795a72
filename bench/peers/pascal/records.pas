{ records: N records (integer, 6-byte real, string[20]) written to a typed
  file, then read back at pseudo-random record numbers. }
program records;
{$mode objfpc}{$H-}{$minfpconstprec 64}
type
  TRec = packed record
    id: longint;
    value: real48;
    name: string[20];
  end;
var
  n, i, k, seed, total, code: longint;
  vsum, v: double;
  r: TRec;
  t: string;
  f: file of TRec;
{ The run-time library reads the 6-byte real but has no conversion to it:
  exponent byte biased by 129, 39 fraction bits (low bits dropped), sign on top. }
function ToReal48(d: double): real48;
var
  bits: qword;
  e: longint;
  b: array[0..5] of byte;
  fraction: qword;
begin
  bits := PQWord(@d)^;
  FillChar(b, SizeOf(b), 0);
  e := (bits shr 52) and $7FF;
  if e <> 0 then
  begin
    b[0] := byte((e - 894) and $FF);
    fraction := (bits and $FFFFFFFFFFFFF) shr 13;
    b[1] := fraction and $FF;
    b[2] := (fraction shr 8) and $FF;
    b[3] := (fraction shr 16) and $FF;
    b[4] := (fraction shr 24) and $FF;
    b[5] := (fraction shr 32) and $7F;
  end;
  if (bits shr 63) <> 0 then
    b[5] := b[5] or $80;
  Move(b, Result, 6);
end;

begin
  n := 100000;
  if ParamCount > 0 then Val(ParamStr(1), n, code);
  Assign(f, 'bench_records.dat');
  Rewrite(f);
  for i := 1 to n do
  begin
    r.id := i;
    v := i * 0.5;
    r.value := ToReal48(v);
    Str(i, t);
    r.name := 'rec' + t;
    Write(f, r);
  end;
  Close(f);
  Reset(f);
  total := 0;
  vsum := 0.0;
  seed := 12345;
  for k := 1 to n do
  begin
    seed := (seed * 1103 + 12345) mod 1000003;
    Seek(f, seed mod n);
    Read(f, r);
    total := (total + r.id + Length(r.name)) mod 1000003;
    v := r.value;
    vsum := vsum + v;
  end;
  Close(f);
  writeln(total);
  writeln(vsum:0:1);
end.
