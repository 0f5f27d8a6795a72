{ fib: naive recursive Fibonacci. }
program fib;
{$mode objfpc}{$H-}{$minfpconstprec 64}
var
  n, code: longint;

function fib(n: longint): longint;
begin
  if n < 2 then
    fib := n
  else
    fib := fib(n - 1) + fib(n - 2);
end;

begin
  n := 32;
  if ParamCount > 0 then Val(ParamStr(1), n, code);
  writeln(fib(n));
end.
