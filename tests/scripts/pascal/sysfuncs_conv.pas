// System functions: conversions, formatting and their errors.
var s: String;
    v: Variant;
begin
  Print(IntToStr(5000000000));            // expect: 5000000000
  Print(IntToStr(-7));                    // expect: -7
  Print(BoolToStr(True));                 // expect: -1
  Print(BoolToStr(False));                // expect: 0
  v := StrToBool('true');
  Print(VarType(v));                      // expect: 11
  Print(v);                               // expect: True
  Print(StrToInt('$FF') + 1);             // expect: 256
  v := StrToInt64('5000000000');
  Print(VarType(v));                      // expect: 20
  Print(StrToFloat('2.5') * 2);           // expect: 5
  Print(FloatToStr(0.1));                 // expect: 0.1
  Print(VarToStr(Null) + '|');            // expect: |
  Print(Format('%s=%d (%.1f%%)', ['n', 3, 37.5]));  // expect: n=3 (37.5%)
  Print(Format('%-5s|%5s|', ['ab', 'cd']));         // expect: ab   |   cd|
  Print(Format('%1:s %0:s', ['a', 'b']));           // expect: b a
  Print(Format('%x %.3d %m', [255, 7, -1234.5]));   // expect: FF 007 ($1,234.50)
  s := '';
  while Length(s) < 300 do s := s + 'abcdefghij';
  Print(Length(Format('<%s>', [s])));     // expect: 302
  Print(FormatFloat('#,##0.00', 1234567.891));      // expect: 1,234,567.89
  Print(FormatFloat('0.00;(0.00);"zero"', -2.5));   // expect: (2.50)
  Print(FormatFloat('0.0E+00', 12345));             // expect: 1.2E+04
  Print(FormatDateTime('yyyy-mm-dd hh:nn', EncodeDate(2024, 12, 11) + EncodeTime(9, 5, 0, 0)));
  // expect: 2024-12-11 09:05
  Print(FormatMaskText('(000) 000-0000;0', '8005551212'));  // expect: (800) 555-1212
  try
    StrToInt('12x');
  except
    Print(ExceptionClassName + ': ' + ExceptionMessage);
    // expect: EConvertError: '12x' is not a valid integer value
  end;
  try
    Print(Format('%d', ['abc']));
  except
    Print(ExceptionMessage);
    // expect: Format '%d' invalid or incompatible with argument
  end;
  try
    EncodeDate(2023, 2, 29);
  except
    Print(ExceptionMessage);              // expect: Invalid argument to date encode
  end;
  try
    StrToFloat('1,5');
  except
    Print(ExceptionMessage);              // expect: '1,5' is not a valid floating point value
  end;
  try
    v := CreateOleObject('Excel.Application');
  except
    Print(ExceptionClassName);            // expect: EOleError
  end;
end.
