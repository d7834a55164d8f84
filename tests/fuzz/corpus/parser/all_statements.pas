program All;
uses 'self.pas', 'other.pas';
const N = 10; S = 'text'#13#10'more';
var a, b: Integer; c: array[0..4, 2] of Double = 1.5e3; d: array of Byte; v: Variant;
function F(var x, y: Integer; const s: String = ''; z: Variant): Boolean;
  var t: Integer;
  procedure Q(k: Integer); begin t := t + k end;
begin
  Result := not (x > y) and (s <> '') or (z in [1, 3..5]);
end;
begin
  a := -$1F * (b div 2) mod 3 shl 1 shr 1 xor 7;
  if a >= b then b := a else if a <= b then a := b;
  case a of 1, 2: b := 1; 3..4: begin b := 2 end; else b := 3; end;
  for a := 10 downto 1 do if a = 5 then break else continue;
  while a < 10 do a := a + 1;
  repeat a := a - 1 until a <= 0;
  try F(a, b, S, v) finally exit end;
  try c[1, 0] := <Table."Field"> except v := @F end;
  with v, d do v.Items[0].Name := 'x';
  { block } (* other *) // line
end.
trailing text is ignored ((( '
