// Assignments turned into compound forms keep their meaning.
var x: Integer;
    f: Double;
    s: String;
    i: Integer;
begin
  x := 10;
  x := x - 1;
  Print(x);          // expect: 9
  x := 1 - x;
  Print(x);          // expect: -8
  x := 3 * x;
  Print(x);          // expect: -24
  x := x + x;
  Print(x);          // expect: -48
  f := 9;
  f := f / 2;
  Print(f);          // expect: 4.5
  s := 'b';
  s := 'a' + s;
  Print(s);          // expect: ab
  s := s + 'c';
  Print(s);          // expect: abc
  s := '';
  for i := 1 to 5 do s := s + 'x';
  Print(s);          // expect: xxxxx
end.
