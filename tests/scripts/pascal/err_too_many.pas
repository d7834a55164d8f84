// Calling a routine with too many arguments.
// expect error: 5:4: Too many actual parameters
procedure P(a: Integer); begin end;
begin
  P(1, 2);
end.
