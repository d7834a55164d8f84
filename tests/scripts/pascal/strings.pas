// String indexing reads and writes characters in place; an index outside the string fails.
var s, t: String;
    i: Integer;
    c: Char;
begin
  s := 'abc';
  Print(s[2]);        // expect: b
  t := s;
  s[2] := 'xyz';
  Print(s);           // expect: axc
  Print(t);           // expect: abc
  c := s[3];
  Print(c);           // expect: c
  t := '';
  for i := 3 downto 1 do t := t + s[i];
  Print(t);           // expect: cxa
  s[1] := s[3];
  Print(s);           // expect: cxc
  s[0] := 'q';
  // expect runtime error: String index 0 out of range 1..3
end.
