// Constants, locals shadowing globals, nested routines, while and repeat loops.
const Limit = 3;
      Greeting = 'hi';
var x: Integer;

procedure Outer;
var x: Integer;
  procedure Inner;
  begin
    x := x + 100;
  end;
begin
  x := 1;
  Inner;
  Print(x);
end;

begin
  x := 7;
  Outer;            // expect: 101
  Print(x);         // expect: 7
  Print(Limit * 2); // expect: 6
  Print(Greeting);  // expect: hi
  x := 0;
  while x < Limit do x := x + 1;
  Print(x);         // expect: 3
  repeat x := x - 1 until x = 0;
  Print(x);         // expect: 0
  Print(@Outer);    // expect: Outer
end.
