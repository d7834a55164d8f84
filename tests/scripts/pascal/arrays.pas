// Arrays of one to three dimensions; an index out of bounds fails.
var a: array[0..4] of Integer;
    b: array[1..2, 1..3] of Integer;
    c: array[0..1, 0..1, 0..1] of String;
    d: array[5] of Integer;
    i, j, sum: Integer;
begin
  for i := 0 to 4 do a[i] := i * i;
  Print(a[3]);            // expect: 9
  for i := 1 to 2 do
    for j := 1 to 3 do
      b[i, j] := i * 10 + j;
  sum := 0;
  for i := 1 to 2 do
    for j := 1 to 3 do
      sum := sum + b[i, j];
  Print(sum);             // expect: 102
  c[1, 0, 1] := 'deep';
  Print(c[1, 0, 1]);      // expect: deep
  d[5] := 7;
  Print(d[5]);            // expect: 7
  a[a[2]] := 100;
  Print(a[4]);            // expect: 100
  a[5] := 1;
  // expect runtime error: Variant or safe array index out of bounds
end.
