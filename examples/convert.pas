// Unit conversion with a derived value. Each row carries a weather reading in metric units;
// the script adds the temperature in Fahrenheit, the wind speed in m/s and the dew point
// (Magnus formula) derived from temperature and relative humidity, each to one decimal.
var
  t, rh, gamma: Double;
begin
  t := GetVariable('temp_c');
  rh := GetVariable('hum');
  SetVariable('temp_f', Round(CelsiusToFahrenheit(t) * 10) / 10);
  SetVariable('wind_ms', Round(GetVariable('wind_kmh') / 3.6 * 10) / 10);
  gamma := Ln(rh / 100) + 17.62 * t / (243.12 + t);
  SetVariable('dew_point_c', Round(243.12 * gamma / (17.62 - gamma) * 10) / 10);
end.
