// Using a name that is not declared.
// expect error: 4:10: Undeclared identifier: 'y'
begin
  Print(y);
end.
