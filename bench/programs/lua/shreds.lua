-- 1000 coroutines, each resumed every sample for one second of audio in
-- wake order (a list per sample), as shreds.chip.
local now, ready = 0, {}
for i = 1, 1000 do
  ready[#ready + 1] = coroutine.create(function()
    while true do coroutine.yield(now + 1) end
  end)
end
while now < 44100 do
  local next_ready = {}
  for _, co in ipairs(ready) do
    coroutine.resume(co)
    next_ready[#next_ready + 1] = co
  end
  ready = next_ready
  now = now + 1
end
