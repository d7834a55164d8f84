// Recursion with one set of items per routine: each call sees its own values.
var depth: Integer;

function Fact(n: Integer): Integer;
var local: Integer;
begin
  local := n;
  if n <= 1 then Result := 1
  else Result := n * Fact(n - 1);
  Print(local);
end;

function Fib(n: Integer): Integer;
begin
  if n < 2 then Result := n else Result := Fib(n - 1) + Fib(n - 2);
end;

function NoResultInt: Integer;
begin
end;

function NoResultStr: String;
begin
end;

procedure Deep(n: Integer);
begin
  depth := n;
  Deep(n + 1);
end;

begin
  Print(Fact(5));       // expect: 1
                        // expect: 2
                        // expect: 3
                        // expect: 4
                        // expect: 5
                        // expect: 120
  Print(Fib(15));       // expect: 610
  Print(NoResultInt);   // expect: 0
  Print('[' + NoResultStr + ']'); // expect: []
  try
    Deep(1);
  except
    Print(ExceptionMessage); // expect: Stack overflow
  end;
  Print(depth > 100);   // expect: True
end.
