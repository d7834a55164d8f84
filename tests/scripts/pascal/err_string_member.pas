// Selecting a member of a string.
// expect error: 5:17: Strings doesn't have properties or methods
var s: String;
begin
  Print(s.Length);
end.
