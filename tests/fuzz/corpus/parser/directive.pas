#language PascalScript
begin end.