// Pass counts and counter values of for loops.
var i, n, k: Integer;
begin
  n := 0;
  i := 42;
  for i := 1 to 0 do n := n + 1;
  Print(n);   // expect: 0
  Print(i);   // expect: 42
  for i := 5 downto 1 do n := n + 1;
  Print(n);   // expect: 5
  Print(i);   // expect: 1
  n := 0;
  for i := 1 to 3 do
  begin
    n := n + 1;
    i := 100;
  end;
  Print(n);   // expect: 3
  k := 3;
  n := 0;
  for i := 1 to k do
  begin
    k := 10;
    n := n + 1;
  end;
  Print(n);   // expect: 3
  n := 0;
  for i := 1 to 10 do
  begin
    if i mod 2 = 0 then continue;
    if i > 7 then break;
    n := n + i;
  end;
  Print(n);   // expect: 16
  Print(i);   // expect: 9
  n := 0;
  for i := -2 to 2 do n := n + i * i;
  Print(n);   // expect: 10
end.
