// Raw-line parser. A raw row holds its line in DATA, for example
//   station=north temp=21.5 hum=40
// The script splits it at blanks into key=value pairs, sets each as a named value of the
// row (as text) and removes DATA. Words without "=" are ignored.
// Run it with --format raw --output-format jsonl.
var
  s, pair: String;
  p, q: Integer;
begin
  s := Trim(GetVariable('DATA'));
  while s <> '' do
  begin
    p := Pos(' ', s);
    if p = 0 then
      p := Length(s) + 1;
    pair := Copy(s, 1, p - 1);
    s := TrimLeft(Copy(s, p + 1, Length(s)));
    q := Pos('=', pair);
    if q > 1 then
      SetVariable(Copy(pair, 1, q - 1), Copy(pair, q + 1, Length(pair)));
  end;
  DeleteVariable('DATA');
end.
