// A string variable as a for counter.
// expect error: 5:8: For loop variable must be numeric variable
var s: String;
begin
  for s := 1 to 2 do ;
end.
