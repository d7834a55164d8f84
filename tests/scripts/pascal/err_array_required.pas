// Indexing an integer.
// expect error: 5:5: Array type required
var i: Integer;
begin
  i[1] := 2;
end.
