// A float result does not fit an Integer variable, also in a compound form.
// expect error: 5:13: Incompatible types: 'Integer', 'Extended'
var x: Integer;
begin
  x := x / 2;
end.
