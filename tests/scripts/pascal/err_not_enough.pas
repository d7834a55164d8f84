// Calling a routine with too few arguments.
// expect error: 5:4: Not enough actual parameters
procedure P(a, b: Integer); begin end;
begin
  P(1);
end.
