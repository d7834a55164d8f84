// try..except sets ExceptionClassName and ExceptionMessage; try..finally always runs.
var i, z: Integer;
    s: String;
begin
  try
    RaiseException('boom');
  except
    Print(ExceptionClassName);   // expect: Exception
    Print(ExceptionMessage);     // expect: boom
  end;
  z := 0;
  try
    i := 1 div z;
  except
    Print(ExceptionClassName);   // expect: EDivByZero
    Print(ExceptionMessage);     // expect: Division by zero
  end;
  i := 5;
  try
    i := 10 div z;
  except
  end;
  Print(i);                      // expect: 5
  try
    try
      RaiseException('inner');
    finally
      Print('cleanup');          // expect: cleanup
    end;
  except
    Print(ExceptionMessage);     // expect: inner
  end;
  s := 'abc';
  try
    Print(s[4]);
  except
    Print(ExceptionClassName);   // expect: ERangeError
  end;
  Print('done');                 // expect: done
  RaiseException('uncaught');
  // expect runtime error: uncaught
end.
