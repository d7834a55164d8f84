// Assigning a string to an integer.
// expect error: 5:13: Incompatible types: 'Integer', 'String'
var i: Integer;
begin
  i := 'abc';
end.
