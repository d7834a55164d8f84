// A script's own function hides the built-in one of the same name, for this script only.
function Trim(s: String): String;
begin
  Result := 'mine:' + s;
end;

begin
  Print(Trim(' x '));                     // expect: mine: x 
  Print(Uppercase('still built-in'));     // expect: STILL BUILT-IN
end.
