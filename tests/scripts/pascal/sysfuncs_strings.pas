// System functions: strings, arithmetic, dates and value kinds.
var s: String;
    x: Integer;
    v, a: Variant;
    y, m, d: Word;
begin
  Print(Copy('abcdef', 0, 2));            // expect: ab
  Print(Copy('abc', 5, 1) + '|');         // expect: |
  Print(Pos('c', 'abc'));                 // expect: 3
  s := 'hello';
  Delete(s, 2, 3);
  Print(s);                               // expect: ho
  Insert('XX', s, 2);
  Print(s);                               // expect: hXXo
  Print(NameCase('jOHN smith'));          // expect: John Smith
  Print(Uppercase('abc') + Lowercase('DEF'));  // expect: ABCdef
  Print('[' + Trim('  a b  ') + ']');     // expect: [a b]
  Print(CompareText('abc', 'ABC'));       // expect: 0
  Print(Chr(65) + IntToStr(Ord('a')));    // expect: A97
  Print(Round(2.5));                      // expect: 2
  Print(Round(3.5));                      // expect: 4
  Print(Trunc(-1.7));                     // expect: -1
  Print(Int(2.7));                        // expect: 2
  Print(VarType(Int(2.7)));               // expect: 5
  Print(Abs(-3));                         // expect: 3
  Print(VarType(Abs(-3)));                // expect: 5
  x := 5;
  Inc(x);
  Print(x);                               // expect: 6
  Dec(x, 10);
  Print(x);                               // expect: -4
  v := 5.5;
  Inc(v);
  Print(v);                               // expect: 6.5
  Print(DaysInMonth(2000, 2));            // expect: 29
  Print(DaysInMonth(1900, 2));            // expect: 28
  Print(IsLeapYear(2024));                // expect: True
  DecodeDate(EncodeDate(2024, 12, 11), y, m, d);
  Print(IntToStr(y) + '/' + IntToStr(m) + '/' + IntToStr(d));  // expect: 2024/12/11
  Print(DayOfWeek(EncodeDate(2024, 12, 11)));  // expect: 4
  Print(VarType(1.5));                    // expect: 5
  Print(VarType('a'));                    // expect: 256
  Print(VarType(nil));                    // expect: 17
  a := VarArrayCreate([0, 4], varVariant);
  Print(Length(a));                       // expect: 5
  SetLength(a, 2);
  Print(Length(a));                       // expect: 2
  Print(Length('hello'));                 // expect: 5
  Print(ExtractFilePath('C:\data\x.txt')); // expect: C:\data\
  Print(ValidInt('12') and not ValidInt('1.5'));  // expect: True
  try
    Print(Ord(''));
  except
    Print(ExceptionClassName);            // expect: ERangeError
  end;
  try
    Print(DaysInMonth(2000, 13));
  except
    Print(ExceptionClassName);            // expect: ERangeError
  end;
end.
