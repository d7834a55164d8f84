// Running average over every row seen so far. The count and the sum are kept with
// PushVariable/PopVariable, so they survive from row to row and from packet to packet
// (until the configuration is loaded again).
var
  n, sum: Double;
begin
  if IsVariableStored('n') then
  begin
    n := PopVariable('n');
    sum := PopVariable('sum');
  end
  else
  begin
    n := 0;
    sum := 0;
  end;
  n := n + 1;
  sum := sum + GetVariable('value');
  PushVariable('n', n);
  PushVariable('sum', sum);
  SetVariable('avg', sum / n);
end.
