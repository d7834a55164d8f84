// An operator whose operand types do not fit.
// expect error: 4:12: Incompatible types
begin
  Print(1 + 'abc');
end.
