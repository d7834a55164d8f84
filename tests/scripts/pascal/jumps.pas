// break, continue and exit through try..finally, case branches and procedures.
var i, n: Integer;

procedure EarlyExit;
begin
  try
    Print('in');
    exit;
    Print('not reached');
  finally
    Print('finally');
  end;
  Print('not reached either');
end;

function FirstOver(limit: Integer): Integer;
var k: Integer;
begin
  Result := -1;
  for k := 1 to 100 do
    if k * k > limit then
    begin
      Result := k;
      exit;
    end;
end;

begin
  EarlyExit;                 // expect: in
                             // expect: finally
  Print(FirstOver(50));      // expect: 8
  n := 0;
  for i := 1 to 5 do
  begin
    try
      if i = 3 then break;
      n := n + 1;
    finally
      Print(i);              // expect: 1
                             // expect: 2
                             // expect: 3
    end;
  end;
  Print(n);                  // expect: 2
  n := 0;
  i := 0;
  while i < 10 do
  begin
    i := i + 1;
    case i of
      4: continue;
      6: break;
    end;
    n := n + i;
  end;
  Print(n);                  // expect: 11
  i := 0;
  repeat
    i := i + 1;
    if i = 2 then continue;
    if i = 4 then break;
  until i > 10;
  Print(i);                  // expect: 4
  Print('main');             // expect: main
  exit;
  Print('after exit');
end.
