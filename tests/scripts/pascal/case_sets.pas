// case with ranges and else; membership in set constructions.
var i: Integer;
    c: String;

procedure Classify(n: Integer);
begin
  case n of
    1: Print('one');
    2, 3: Print('two or three');
    4..6, 8: Print('four to six or eight');
  else
    Print('other');
  end;
end;

begin
  for i := 0 to 8 do Classify(i);
  // expect: other
  // expect: one
  // expect: two or three
  // expect: two or three
  // expect: four to six or eight
  // expect: four to six or eight
  // expect: four to six or eight
  // expect: other
  // expect: four to six or eight
  Print(3 in [1, 3..5]);   // expect: True
  Print(6 in [1, 3..5]);   // expect: False
  Print(4 in [5..3]);      // expect: False
  c := 'k';
  Print(c in ['a'..'m']);  // expect: True
  case c of
    'a'..'f': Print('low');
    'g'..'z': Print('high'); // expect: high
  end;
end.
