// A missing semicolon between statements.
// expect error: 6:3: ';' expected
var a, b: Integer;
begin
  a := 1
  b := 2
end.
