// Threshold filter. Rows whose temperature is above the limit leave the stream: the script
// raises an OVERHEAT event naming the sensor and its reading, then discards the row.
const
  Limit = 80;
begin
  if GetVariable('temp') > Limit then
  begin
    SendEvent('overheat', ['sensor', GetVariable('sensor'), 'temp', GetVariable('temp')]);
    DiscardDataPacket;
  end;
end.
