{ Prints the expected results of FormatDateTime as rows of a C++ case table
  (formatdatetime_cases.inc). }
program formatdatetime_oracle;
{$mode objfpc}{$H+}
uses SysUtils;

{$I common.inc}

procedure C(const fmt: string; const v: string);
var
  x: Double;
  res: string;
begin
  x := D(v);
  try
    res := CStr(FormatDateTime(fmt, x, FS));
  except
    on E: Exception do res := 'kFormatError';
  end;
  WriteLn('    {' + CStr(fmt) + ', ' + HexDouble(x) + ', ' + res + '}, // ' + v);
end;

procedure Many(const fmt: string; const values: array of string);
var
  i: Integer;
begin
  for i := 0 to High(values) do C(fmt, values[i]);
end;

const
  { 1899-12-30 00:00; 2000-02-29 18:00; 2024-12-11 09:05:03.007; 2024-07-04 23:59:59.9996;
    1999-12-31 12:00; 1900-01-01 00:30:15.5; 9999-12-31 23:59:59 }
  V: array[0..6] of string = ('0', '36585.75', '45637.37850702546', '45477.99999999537',
                              '36525.5', '2.0210127314814815', '2958465.999988426');
begin
  SetupSettings;
  Many('yyyy-mm-dd hh:nn:ss.zzz', V);
  Many('d/m/yy', V);
  Many('dd', ['1', '45637.4']);
  Many('ddd', V);
  Many('dddd', V);
  Many('ddddd', V);
  Many('dddddd', V);
  Many('m', ['45637', '45300']);
  Many('mm', ['45637', '45300']);
  Many('mmm', ['45637', '45300']);
  Many('mmmm', ['45637', '45300']);
  Many('y', ['45637', '36526']);
  Many('yy', ['45637', '36526']);
  Many('yyy', ['45637']);
  Many('yyyy', ['45637', '36526', '-600000']);
  Many('h', V);
  Many('hh', V);
  Many('n', ['45637.37850702546']);
  Many('nn', ['45637.37850702546']);
  Many('s', ['45637.37850702546']);
  Many('ss', ['45637.37850702546']);
  Many('z', ['45637.37850702546', '0.5000057870370370']);
  Many('zzz', ['45637.37850702546']);
  Many('h:m', ['45637.37850702546']);
  Many('hh:mm:ss', ['45637.37850702546', '0.75']);
  Many('m/d h:m', ['45637.37850702546']);
  Many('mm:ss', ['45637.37850702546']);
  Many('t', V);
  Many('tt', V);
  Many('c', V);
  Many('h am/pm', ['0', '0.25', '0.5', '0.75', '0.99']);
  Many('h AM/PM', ['0.5', '0.75']);
  Many('hh a/p', ['0', '0.5', '0.75']);
  Many('h A/P', ['0.75']);
  Many('h ampm', ['0.25', '0.75']);
  Many('h AMPM', ['0.25', '0.75']);
  Many('hh:nn am/pm', ['0.0006944444444444444', '0.5006944444444444']);
  Many('yyyy/mm/dd', ['45637']);
  Many('hh:nn', ['45637.37850702546']);
  Many('"quoted" yyyy', ['45637']);
  Many('''single'' dd', ['45637']);
  Many('"d m y" d', ['45637']);
  Many('dddd, mmmm d, yyyy', ['45637', '36585']);
  Many('', ['45637.37850702546', '45637', '0.37850702546', '0']);
  Many('xyz', ['45637']);
  Many('dd.mm.yyyy', ['45637']);
  Many('YYYY-MM-DD HH:NN:SS', ['45637.37850702546']);
  Many('D/M/Y', ['45637']);
  Many('"unterminated', ['45637']);
  Many('yyyy-mm-dd', ['-1.25', '-0.5', '-36522']);
  Many('hh:nn:ss', ['-1.25', '-0.75']);
  Many('yyyy-mm-dd hh:nn:ss.zzz', ['0.99999999', '1.5000000001', '45637.999999999']);
end.
