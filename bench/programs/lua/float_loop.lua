-- Ten million turns of a loop adding floats, as float_loop.chip.
local sum = 0.0
for i = 0, 10000000 - 1 do sum = sum + 0.5 end
print(sum)
