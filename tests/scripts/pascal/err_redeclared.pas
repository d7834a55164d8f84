// Declaring a name twice in one scope; a local may shadow a global.
// expect error: 5:6: Identifier redeclared: 'x'
var x: Integer;
procedure P; var x: Integer; begin x := 1 end;
var x: String;
begin
end.
