// Variables keep their values from one execution to the next; initial values are assigned
// when execution reaches the declaration.
// runs: 3
var n: Integer;
    k: Integer = 5;
begin
  n := n + 1;
  k := k + 1;
  Print(n);
  Print(k);
end.
// expect: 1
// expect: 6
// expect: 2
// expect: 6
// expect: 3
// expect: 6
