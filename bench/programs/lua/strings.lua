-- A million strings made by joining a text and an int, as strings.chip.
local t
for i = 0, 1000000 - 1 do t = "item" .. i end
