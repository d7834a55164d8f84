// Operator priorities, associativity, short-circuit evaluation and mixed types.
var b: Boolean;
    calls: Integer;
    x: Double;

function Touch(r: Boolean): Boolean;
begin
  calls := calls + 1;
  Result := r;
end;

begin
  Print(2 + 3 * 4);          // expect: 14
  Print((2 + 3) * 4);        // expect: 20
  Print(10 - 4 - 3);         // expect: 3
  Print(2 * 3 div 4);        // expect: 1
  Print(not 1 = 1);          // expect: False
  Print(-2 + 3 * (4 - 1));   // expect: 7
  Print(7 mod 3 + 8 div 3);  // expect: 3
  Print(1 shl 4 or 1);       // expect: 17
  Print(7 / 2);              // expect: 3.5
  Print(((1 + 2) * (3 + 4)) - (5 - 6)); // expect: 22
  Print('ab' + 'cd');        // expect: abcd
  Print(3 > 2);              // expect: True
  Print((1 < 2) and (2 < 1)); // expect: False
  Print(5 xor 3);            // expect: 6
  b := False;
  calls := 0;
  if b and Touch(True) then Print('wrong');
  Print(calls);              // expect: 0
  b := True;
  if b or Touch(True) then Print(calls); // expect: 0
  if b and Touch(False) then Print('wrong') else Print(calls); // expect: 1
  x := 1 + 0.5;
  Print(x);                  // expect: 1.5
end.
