var i: Integer;
begin
  for i := 1 to 3 do
    Log('x' + IntToStr(i));
  end.
