// Var parameters, defaults, calls before declaration.
var a, b: Integer;
    s: String;

procedure Swap(var x, y: Integer);
var t: Integer;
begin
  t := x;
  x := y;
  y := t;
end;

procedure AddTo(var x: Integer; n: Integer = 10);
begin
  x := x + n;
end;

procedure Twice(var s: String);
begin
  s := s + s;
end;

function Later(x: Integer): Integer;
begin
  Result := Helper(x) + 1;
end;

function Helper(x: Integer): Integer;
begin
  Result := x * 2;
end;

begin
  a := 1;
  b := 2;
  Swap(a, b);
  Print(a);          // expect: 2
  Print(b);          // expect: 1
  AddTo(a);
  Print(a);          // expect: 12
  AddTo(a, 3);
  Print(a);          // expect: 15
  s := 'ab';
  Twice(s);
  Print(s);          // expect: abab
  Print(Later(4));   // expect: 9
end.
